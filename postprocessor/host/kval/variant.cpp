#include "postprocessor/host/kval/variant.h"

#include <charconv>
#include <cmath>

namespace KVAL_2_18::types {

namespace {

template <typename Number>
std::string format_number(Number number) {
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
  return std::string(buffer, result.ptr);
}

std::string format_real(double real) {
  if (std::isnan(real)) return "nan";
  if (std::isinf(real)) return real < 0 ? "-inf" : "inf";
  return format_number(real);
}

}  // namespace

std::string variant::to_string() const {
  switch (kind()) {
    case Kind::kEmpty: return {};
    case Kind::kText: return std::get<std::string>(value_);
    case Kind::kSigned: return format_number(std::get<std::int64_t>(value_));
    case Kind::kUnsigned: return format_number(std::get<std::uint64_t>(value_));
    case Kind::kReal: return format_real(std::get<double>(value_));
  }
  return {};
}

}  // namespace KVAL_2_18::types
