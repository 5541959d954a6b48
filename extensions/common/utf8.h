// UTF-8 checks shared by the extensions that write text formats (JSON, XML,
// Prometheus): every result file is valid UTF-8 whatever bytes a message
// holds. Header only; each extension links it in.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qorv::extensions {

inline constexpr char kReplacementCharacter[] = "\xEF\xBF\xBD";  // U+FFFD

// Length of the well-formed UTF-8 sequence that starts with the byte
// text[i] (at least 0x80), or 0 when it is ill-formed; then *bad is the
// length of its maximal ill-formed prefix, which a writer replaces by one
// U+FFFD. Overlong forms, surrogates and values above U+10FFFF are
// ill-formed.
inline std::size_t Utf8Sequence(std::string_view text, std::size_t i, std::size_t* bad) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // no overlong forms
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    *bad = 1;
    return 0;
  }
  for (std::size_t k = 1; k < length; ++k) {
    const bool in_range = i + k < text.size() && (k == 1 ? byte(i + k) >= low && byte(i + k) <= high
                                                         : byte(i + k) >= 0x80 && byte(i + k) <= 0xBF);
    if (!in_range) {
      *bad = k;
      return 0;
    }
  }
  return length;
}

// Appends the UTF-8 sequence that starts with the byte text[i] (at least
// 0x80) to out, or one U+FFFD for its maximal ill-formed prefix; returns
// the number of bytes consumed (at least 1).
inline std::size_t AppendUtf8Sequence(std::string& out, std::string_view text, std::size_t i) {
  std::size_t bad = 0;
  const std::size_t length = Utf8Sequence(text, i, &bad);
  if (length == 0) {
    out.append(kReplacementCharacter);
    return bad;
  }
  out.append(text.data() + i, length);
  return length;
}

// text with each maximal ill-formed sequence replaced by one U+FFFD.
inline std::string ValidUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      out.push_back(text[i++]);
    } else {
      i += AppendUtf8Sequence(out, text, i);
    }
  }
  return out;
}

}  // namespace qorv::extensions
