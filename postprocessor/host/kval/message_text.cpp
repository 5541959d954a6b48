#include "postprocessor/host/kval/message_text.h"

#include "postprocessor/support/utf8.h"

namespace KVAL_2_18::i18n::detail {

namespace {

constexpr std::size_t kMaxArgumentDigits = 3;
constexpr std::size_t kExcerptBytes = 40;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

void add_literal(message_parts& out, std::string_view bytes) {
  if (bytes.empty()) return;
  if (out.parts.empty() || out.parts.back().placeholder) out.parts.push_back({false, {}});
  out.parts.back().text.append(bytes);
}

}  // namespace

std::optional<text_error> split_message_text(std::string_view text, message_parts& out) {
  out.parts.clear();
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t brace = text.find_first_of("{}", i);
    if (brace == std::string_view::npos) {
      add_literal(out, text.substr(i));
      break;
    }
    add_literal(out, text.substr(i, brace - i));
    const bool doubled = brace + 1 < text.size() && text[brace + 1] == text[brace];
    if (doubled) {
      add_literal(out, text.substr(brace, 1));
      i = brace + 2;
      continue;
    }
    if (text[brace] == '}') {
      return text_error{brace, "unmatched '}' (write '}}' for a literal brace)"};
    }
    const std::size_t close = text.find_first_of("{}", brace + 1);
    if (close == std::string_view::npos || text[close] == '{') {
      return text_error{brace, "unterminated placeholder '" + excerpt(text.substr(brace, close - brace)) +
                                   "' (write '{{' for a literal brace)"};
    }
    const std::string_view name = text.substr(brace + 1, close - brace - 1);
    const std::string written = "'{" + excerpt(name) + "}'";
    bool numeric = !name.empty();
    for (char c : name) numeric = numeric && is_digit(c);
    if (!numeric) {
      return text_error{brace, "placeholder " + written + " names no argument number"};
    }
    if (name.size() > 1 && name[0] == '0') {
      return text_error{brace, "placeholder " + written + " has a leading zero"};
    }
    if (name.size() > kMaxArgumentDigits) {
      return text_error{brace, "placeholder " + written + " names an argument beyond 999"};
    }
    out.parts.push_back({true, std::string(name)});
    i = close + 1;
  }
  return std::nullopt;
}

std::string excerpt(std::string_view text) {
  std::string out;
  std::size_t end = text.size();
  const bool cut = end > kExcerptBytes;
  if (cut) {
    end = qorv::utf8::cut_before(text, kExcerptBytes);
  }
  for (std::size_t i = 0; i < end; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    out += (c < 0x20 || c == 0x7F) ? '?' : text[i];
  }
  if (cut) out += "...";
  return out;
}

}  // namespace KVAL_2_18::i18n::detail
