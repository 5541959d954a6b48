// KVAL_2_18::types::variant: one message argument of the catalogue layer.
//
// A variant holds nothing, a text, a signed or unsigned integer, or a
// floating-point number, and renders it the way a report reader expects:
// integers in plain decimal without a decimal point, floating-point numbers
// in their shortest round-trip form ("0.1", "2.5", "3"), never localised.
// Plain value type; copying copies the value.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>
#include <variant>

#include "postprocessor/host/kval/ustring8.h"
#include "postprocessor/support/export.h"

namespace KVAL_2_18::types {

class QORV_EXPORT variant {
 public:
  enum class Kind { kEmpty, kText, kSigned, kUnsigned, kReal };

  variant() = default;
  variant(std::string text) : value_(std::move(text)) {}                // NOLINT: implicit on purpose
  variant(const char* text) : value_(std::string(text ? text : "")) {}  // NOLINT
  variant(const strings::ustring8& text) : value_(text.str()) {}        // NOLINT
  variant(double real) : value_(real) {}                                // NOLINT
  variant(float real) : value_(static_cast<double>(real)) {}            // NOLINT

  // Every integer type but bool and the character types.
  template <typename Int,
            std::enable_if_t<std::is_integral_v<Int> && !std::is_same_v<Int, bool> && !std::is_same_v<Int, char>,
                             int> = 0>
  variant(Int number) {  // NOLINT: implicit on purpose
    if constexpr (std::is_signed_v<Int>) {
      value_ = static_cast<std::int64_t>(number);
    } else {
      value_ = static_cast<std::uint64_t>(number);
    }
  }

  Kind kind() const { return static_cast<Kind>(value_.index()); }

  // The text a message shows for this argument; empty for an empty variant.
  std::string to_string() const;

  friend bool operator==(const variant& a, const variant& b) { return a.value_ == b.value_; }
  friend bool operator!=(const variant& a, const variant& b) { return !(a == b); }

 private:
  std::variant<std::monostate, std::string, std::int64_t, std::uint64_t, double> value_;
};

}  // namespace KVAL_2_18::types
