#include "extensions/qorv_html/html_text.h"

namespace qorv::html_report {

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// One decoded character: its code point and byte length, or a code point
// of -1 for an ill-formed sequence of that many bytes.
struct Decoded {
  long code;
  std::size_t length;
};

bool Continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Decodes the character at text[i]. The allowed range of the second byte
// rules out overlong forms, surrogates and code points above U+10FFFF, so
// an ill-formed sequence ends where the first byte out of range stands.
Decoded Decode(std::string_view text, std::size_t i) {
  const auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = at(i);
  if (lead < 0x80) return {lead, 1};
  std::size_t length;
  long code;
  unsigned char second_min = 0x80, second_max = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
    second_min = lead == 0xE0 ? 0xA0 : 0x80;
    second_max = lead == 0xED ? 0x9F : 0xBF;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
    second_min = lead == 0xF0 ? 0x90 : 0x80;
    second_max = lead == 0xF4 ? 0x8F : 0xBF;
  } else {
    return {-1, 1};
  }
  for (std::size_t k = 1; k < length; ++k) {
    if (i + k >= text.size()) return {-1, k};
    const unsigned char byte = at(i + k);
    const bool fits = k == 1 ? byte >= second_min && byte <= second_max : Continuation(byte);
    if (!fits) return {-1, k};
    code = (code << 6) | (byte & 0x3F);
  }
  return {code, length};
}

// Characters an HTML parser reports as errors or that carry no text.
bool Dropped(long code, bool keep_breaks) {
  if (code == '\t' || code == '\n') return !keep_breaks;
  if (code < 0x20 || (code >= 0x7F && code <= 0x9F)) return true;
  return (code >= 0xFDD0 && code <= 0xFDEF) || (code & 0xFFFE) == 0xFFFE;
}

// Calls emit(code, bytes) for each character the page keeps, in order: bytes
// is the character's well-formed UTF-8 (U+FFFD for an ill-formed sequence).
template <typename Emit>
void ForEachKept(std::string_view text, bool keep_breaks, Emit emit) {
  std::size_t i = 0;
  while (i < text.size()) {
    const Decoded c = Decode(text, i);
    if (c.code < 0) {
      emit(0xFFFD, std::string_view(kReplacement));
    } else if (!Dropped(c.code, keep_breaks)) {
      emit(c.code, text.substr(i, c.length));
    }
    i += c.length;
  }
}

}  // namespace

void AppendEscaped(std::string& out, std::string_view text, bool keep_breaks) {
  out.reserve(out.size() + text.size());
  ForEachKept(text, keep_breaks, [&out](long code, std::string_view bytes) {
    switch (code) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += bytes;
    }
  });
}

std::string Escape(std::string_view text, bool keep_breaks) {
  std::string out;
  AppendEscaped(out, text, keep_breaks);
  return out;
}

std::string Clean(std::string_view text, bool keep_breaks) {
  std::string out;
  out.reserve(text.size());
  ForEachKept(text, keep_breaks, [&out](long, std::string_view bytes) { out += bytes; });
  return out;
}

void AppendJson(std::string& out, std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  out += '"';
  ForEachKept(text, true, [&out](long code, std::string_view bytes) {
    switch (code) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '<':
      case '>':
      case '&':
        out += "\\u00";
        out += kHex[code >> 4];
        out += kHex[code & 0xF];
        break;
      default: out += bytes;
    }
  });
  out += '"';
}

}  // namespace qorv::html_report
