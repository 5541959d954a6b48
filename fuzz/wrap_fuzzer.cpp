// libFuzzer target: str::word_wrap, space_wrap and column_wrap.
//
// Input: byte 0 the width (-2 to 253), byte 1 the length of the indent
// (up to 31 bytes, which follow; '\n' in it reads as a blank), then the
// separator of column_wrap, a byte whose lowest bit is after_last, and the
// text. Every row must keep the wrapping rule of str.h: nothing lost but
// the blanks at breaks, no row over the width unless it is one word.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "postprocessor/host/str.h"
#include "tests/support/wrap_check.h"

namespace {

void Check(const std::string& text, const std::string& out, int width, bool commas,
           const std::function<std::string(const std::string&)>& continuation, const char* wrapper) {
  const std::string problem =
      width <= 0 ? (out == text ? "" : "a width of 0 or less changed the text")
                 : qorv::testing::CheckWrap(text, out, static_cast<std::size_t>(width), commas, continuation);
  if (!problem.empty()) {
    std::fprintf(stderr, "%s, width %d: %s\n", wrapper, width, problem.c_str());
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const int width = static_cast<int>(data[0]) - 2;
  const std::size_t indent_size = data[1] % 32;
  if (size < 4 + indent_size) return 0;
  std::string indent(reinterpret_cast<const char*>(data) + 2, indent_size);
  for (char& c : indent) c = c == '\n' ? ' ' : c;
  const char separator = static_cast<char>(data[2 + indent_size]);
  const bool after_last = data[3 + indent_size] & 1;
  const std::string text(reinterpret_cast<const char*>(data) + 4 + indent_size, size - 4 - indent_size);

  namespace str = qorv::str;
  const auto plain = [&](const std::string&) { return indent; };
  const auto column = [&](const std::string& line) {
    return qorv::testing::ColumnContinuation(line, static_cast<std::size_t>(width), indent, separator, after_last);
  };
  Check(text, str::word_wrap(text, width, indent), width, true, plain, "word_wrap");
  Check(text, str::space_wrap(text, width, indent), width, false, plain, "space_wrap");
  Check(text, str::column_wrap(text, width, indent, separator, after_last), width, true, column, "column_wrap");
  return 0;
}
