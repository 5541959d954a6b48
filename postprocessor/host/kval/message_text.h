// Internal: the placeholder syntax of catalogue message texts.
//
// A text is literal bytes except for "{N}", a placeholder naming argument
// N (0 to 999, decimal, no leading zeros), and the escapes "{{" and "}}"
// for literal braces. Any other brace is an error. Not exported.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace KVAL_2_18::i18n::detail {

struct message_part {
  bool placeholder = false;
  std::string text;  // the literal bytes, or the argument name of a placeholder
};

struct message_parts {
  std::vector<message_part> parts;  // no two literal parts in a row, none empty
};

struct text_error {
  std::size_t offset = 0;  // of the offending brace in the text
  std::string problem;
};

// Splits `text` into `out` (cleared first). Returns nothing on success, or
// where and why the text is malformed; `out` is then unspecified.
std::optional<text_error> split_message_text(std::string_view text, message_parts& out);

// A short, printable excerpt of `text` for an error message: control
// characters become '?', and long texts are cut (never inside a UTF-8
// sequence) and end in "...".
std::string excerpt(std::string_view text);

}  // namespace KVAL_2_18::i18n::detail
