#include "extensions/qorv_junit/xml_text.h"

#include "extensions/common/utf8.h"

namespace qorv::junit_report {

void AppendXmlText(std::string& out, std::string_view text, bool attribute) {
  out.reserve(out.size() + text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      // U+FFFE and U+FFFF are well-formed UTF-8 but not XML characters.
      if (text.substr(i, 3) == "\xEF\xBF\xBE" || text.substr(i, 3) == "\xEF\xBF\xBF") {
        out.append(extensions::kReplacementCharacter);
        i += 3;
      } else {
        i += extensions::AppendUtf8Sequence(out, text, i);
      }
      continue;
    }
    switch (c) {
      case '&': out.append("&amp;"); break;
      case '<': out.append("&lt;"); break;
      case '>': out.append("&gt;"); break;
      case '"': out.append("&quot;"); break;
      case '\'': out.append("&apos;"); break;
      case '\r': out.append("&#13;"); break;
      case '\t': out.append(attribute ? "&#9;" : "\t"); break;
      case '\n': out.append(attribute ? "&#10;" : "\n"); break;
      default:
        if (c < 0x20) {
          out.append(extensions::kReplacementCharacter);
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
    ++i;
  }
}

}  // namespace qorv::junit_report
