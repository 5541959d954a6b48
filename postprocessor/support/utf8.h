// qorv::utf8: the one UTF-8 decoder of the library, its tools and its
// extensions, so that they all agree on which bytes are text.
//
// decode() reads the character that starts at a byte position. Well-formed
// is the shortest form of a code point up to U+10FFFF that is not a
// surrogate; overlong forms, surrogates, larger values, stray continuation
// bytes and sequences cut short are ill-formed. For an ill-formed sequence
// it gives the length of its maximal ill-formed prefix (one byte at least,
// and never a byte that could start the next character), the unit a writer
// replaces by one U+FFFD. Header only; nothing allocates or throws.
#pragma once

#include <cstddef>
#include <string_view>

namespace qorv::utf8 {

struct Decoded {
  char32_t code;       // the code point; U+FFFD when ill-formed
  std::size_t length;  // bytes taken: the character's, or its maximal ill-formed prefix's
  bool well_formed;
};

// The character starting at text[i]. REQUIRES: i < text.size().
inline Decoded decode(std::string_view text, std::size_t i) {
  const auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = at(i);
  if (lead < 0x80) return {lead, 1, true};
  std::size_t length;
  char32_t code;
  // The range of the second byte rules out overlong forms (after E0 and
  // F0), surrogates (after ED) and values above U+10FFFF (after F4).
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return {0xFFFD, 1, false};  // a continuation byte, C0, C1 or F5-FF
  }
  for (std::size_t k = 1; k < length; ++k) {
    if (i + k >= text.size()) return {0xFFFD, k, false};
    const unsigned char byte = at(i + k);
    if (byte < (k == 1 ? low : 0x80) || byte > (k == 1 ? high : 0xBF)) return {0xFFFD, k, false};
    code = (code << 6) | (byte & 0x3F);
  }
  return {code, length, true};
}

// Whether a byte continues a character rather than starting one.
inline bool continues(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// The last place at or before position where text can be cut without
// splitting a character. REQUIRES: position <= text.size().
inline std::size_t cut_before(std::string_view text, std::size_t position) {
  while (position > 0 && position < text.size() && continues(text[position])) --position;
  return position;
}

}  // namespace qorv::utf8
