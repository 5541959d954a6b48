// The one UTF-8 decoder: where each well-formed range begins and ends, and
// how many bytes each kind of ill-formed sequence takes.
#include "postprocessor/support/utf8.h"

#include <gtest/gtest.h>

#include <string_view>

namespace qorv::utf8 {
namespace {

TEST(Utf8DecodeTest, DecodesTheCharacterAtAPosition) {
  struct Case {
    std::string_view text;
    std::size_t at;
    char32_t code;  // 0xFFFD for an ill-formed sequence
    std::size_t length;
    bool well_formed;
  };
  const Case cases[] = {
      // Each form at the ends of its range; noncharacters are well-formed.
      {std::string_view("", 1), 0, 0, 1, true},
      {"\x7F", 0, 0x7F, 1, true},
      {"\xC2\x80", 0, 0x80, 2, true},
      {"\xDF\xBF", 0, 0x7FF, 2, true},
      {"\xE0\xA0\x80", 0, 0x800, 3, true},
      {"\xED\x9F\xBF", 0, 0xD7FF, 3, true},
      {"\xEE\x80\x80", 0, 0xE000, 3, true},
      {"\xEF\xBF\xBF", 0, 0xFFFF, 3, true},
      {"\xF0\x90\x80\x80", 0, 0x10000, 4, true},
      {"\xF4\x8F\xBF\xBF", 0, 0x10FFFF, 4, true},
      {"ab\xE2\x82\xAC!", 2, 0x20AC, 3, true},
      // Bytes that start no character: stray continuations, C0 and C1
      // (overlong two-byte forms), F5-FF. One byte each.
      {"\x80\x80", 0, 0xFFFD, 1, false},
      {"\xC3\xA9\xBF", 2, 0xFFFD, 1, false},
      {"\xC0\xAF", 0, 0xFFFD, 1, false},
      {"\xC1\xBF", 0, 0xFFFD, 1, false},
      {"\xF5\x80\x80\x80", 0, 0xFFFD, 1, false},
      {"\xFF", 0, 0xFFFD, 1, false},
      // A second byte out of range ends the sequence at the lead byte:
      // overlong, surrogate, above U+10FFFF, not a continuation.
      {"\xE0\x9F\xBF", 0, 0xFFFD, 1, false},
      {"\xF0\x8F\xBF\xBF", 0, 0xFFFD, 1, false},
      {"\xED\xA0\x80", 0, 0xFFFD, 1, false},
      {"\xED\xBF\xBF", 0, 0xFFFD, 1, false},
      {"\xF4\x90\x80\x80", 0, 0xFFFD, 1, false},
      {"\xC3(", 0, 0xFFFD, 1, false},
      // Cut short, by the end of the text (whatever bytes lie behind it) or
      // by a byte that is no continuation: the prefix read so far, never the
      // next character.
      {"\xC3", 0, 0xFFFD, 1, false},
      {std::string_view("\xE2\x82\xAC", 2), 0, 0xFFFD, 2, false},
      {"\xE2\x82", 0, 0xFFFD, 2, false},
      {"\xF0\x9F\x98", 0, 0xFFFD, 3, false},
      {"\xE2\x82(", 0, 0xFFFD, 2, false},
      {"\xF0\x9F\x98\xC3\xA9", 0, 0xFFFD, 3, false},
      {"\xF0\x9F\xF0\x9F\x98\x80", 0, 0xFFFD, 2, false},
  };
  for (const Case& c : cases) {
    const Decoded decoded = decode(c.text, c.at);
    EXPECT_EQ(decoded.well_formed, c.well_formed) << c.text;
    EXPECT_EQ(decoded.code, c.code) << c.text;
    EXPECT_EQ(decoded.length, c.length) << c.text;
  }
}

}  // namespace
}  // namespace qorv::utf8
