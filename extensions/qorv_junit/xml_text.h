// Escaping of arbitrary bytes for XML 1.0 documents.
//
// Whatever a message holds, the result is well-formed character data in
// valid UTF-8: markup characters become entity references, characters that
// XML 1.0 does not allow become U+FFFD, and so does each ill-formed UTF-8
// sequence. Stateless; safe to call from any thread.
#pragma once

#include <string>
#include <string_view>

namespace qorv::junit_report {

// Appends text to out: '&', '<', '>', '"' and '\'' as entity references
// (so the result fits element content and attribute values alike); a
// carriage return as "&#13;" so that parsers keep it; tab and newline as
// they are in element content and as "&#9;" and "&#10;" when attribute is
// set (parsers turn a literal one in an attribute into a blank); the other
// control characters below U+0020, U+FFFE, U+FFFF and every maximal
// ill-formed UTF-8 sequence as one U+FFFD; everything else unchanged.
void AppendXmlText(std::string& out, std::string_view text, bool attribute);

}  // namespace qorv::junit_report
