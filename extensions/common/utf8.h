// UTF-8 output shared by the extensions that write text formats (JSON, XML,
// Prometheus): every result file is valid UTF-8 whatever bytes a message
// holds, each ill-formed sequence (as qorv::utf8::decode delimits it)
// written as one U+FFFD. Header only; each extension links it in.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "postprocessor/support/utf8.h"

namespace qorv::extensions {

inline constexpr char kReplacementCharacter[] = "\xEF\xBF\xBD";  // U+FFFD

// Appends the UTF-8 sequence that starts with the byte text[i] (at least
// 0x80) to out, or one U+FFFD for its maximal ill-formed prefix; returns
// the number of bytes consumed (at least 1).
inline std::size_t AppendUtf8Sequence(std::string& out, std::string_view text, std::size_t i) {
  const utf8::Decoded c = utf8::decode(text, i);
  if (c.well_formed) {
    out.append(text.data() + i, c.length);
  } else {
    out.append(kReplacementCharacter);
  }
  return c.length;
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
