// The run's time stamp as the result files write it. Header only; each
// extension links it in.
#pragma once

#include <ctime>
#include <string>

namespace qorv::extensions {

// when in UTC, formatted with strftime's format ("%Y-%m-%dT%H:%M:%SZ" gives
// ISO 8601), or "" when the time cannot be broken down or its year does not
// have four digits.
inline std::string UtcTime(std::time_t when, const char* format) {
  std::tm parts{};
  if (::gmtime_r(&when, &parts) == nullptr || parts.tm_year < -1900 || parts.tm_year > 9999 - 1900) return {};
  char text[64];
  return std::strftime(text, sizeof text, format, &parts) == 0 ? std::string() : std::string(text);
}

}  // namespace qorv::extensions
