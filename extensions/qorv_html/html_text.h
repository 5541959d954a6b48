// Text of a run made safe for an HTML page.
//
// Whatever bytes a run's texts hold (node names, messages, paths), what
// these functions return is valid UTF-8 that an HTML parser reads as plain
// text: each maximal ill-formed byte sequence becomes one U+FFFD, control
// characters (C0 other than tab and newline, DEL, C1) and noncharacters are
// dropped, and & < > " ' become character references, so the result may
// stand in element content and in quoted attribute values alike. The same
// text also goes into the page's data block as a JSON string. Stateless.
#pragma once

#include <string>
#include <string_view>

namespace qorv::html_report {

// text escaped; tab and newline stay when keep_breaks, else they are dropped
// too (for one-line values such as node names).
std::string Escape(std::string_view text, bool keep_breaks = true);

// Appends Escape(text, keep_breaks) to out.
void AppendEscaped(std::string& out, std::string_view text, bool keep_breaks = true);

// text as the page shows it, unescaped: Escape without the character
// references.
std::string Clean(std::string_view text, bool keep_breaks = true);

// Appends Clean(text) as a JSON string literal, quotes included, with
// < > & written as JSON unicode escapes so that it may stand inside a script
// element: no "</script" or "<!--" can arise from it.
void AppendJson(std::string& out, std::string_view text);

}  // namespace qorv::html_report
