// KVAL_2_18::strings::ustring8: a UTF-8 string of the message catalogue layer.
//
// It holds exactly the bytes it was built from; nothing is validated or
// normalised, so a std::string round-trips byte for byte. Plain value type.
#pragma once

#include <string>
#include <utility>

#include "postprocessor/support/export.h"

namespace KVAL_2_18::strings {

class QORV_EXPORT ustring8 {
 public:
  ustring8() = default;
  ustring8(std::string bytes) : bytes_(std::move(bytes)) {}    // NOLINT: implicit on purpose
  ustring8(const char* bytes) : bytes_(bytes ? bytes : "") {}  // NOLINT: implicit on purpose

  const std::string& str() const { return bytes_; }
  bool empty() const { return bytes_.empty(); }
  std::size_t size() const { return bytes_.size(); }

  friend bool operator==(const ustring8& a, const ustring8& b) { return a.bytes_ == b.bytes_; }
  friend bool operator!=(const ustring8& a, const ustring8& b) { return a.bytes_ != b.bytes_; }
  friend bool operator<(const ustring8& a, const ustring8& b) { return a.bytes_ < b.bytes_; }

 private:
  std::string bytes_;
};

}  // namespace KVAL_2_18::strings
