#include "extensions/qorv_html/html_text.h"

#include "extensions/common/utf8.h"
#include "postprocessor/support/utf8.h"

namespace qorv::html_report {

namespace {

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
    const utf8::Decoded c = utf8::decode(text, i);
    if (!c.well_formed) {
      emit(0xFFFD, std::string_view(extensions::kReplacementCharacter));
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
