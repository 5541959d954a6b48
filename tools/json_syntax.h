// Finds the first syntax error of a JSON text and says where it is, for the
// run-file reader's messages. The fast reader only knows that a text is
// malformed, not always where; this strict, slower check runs only then.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qorv::tools {

struct SyntaxError {
  std::size_t offset;   // byte offset of the offending character in the text
  std::string problem;  // what is wrong there, e.g. "expected ',' or '}'"
};

// The first place where text is not one well-formed JSON value (RFC 8259,
// UTF-8, surrounded by optional whitespace); nullopt for a well-formed text.
// Nesting deeper than max_depth is an error too.
std::optional<SyntaxError> FindSyntaxError(std::string_view text, std::size_t max_depth);

// 1-based line and column (in characters, not bytes) of a byte offset.
struct TextPosition {
  std::size_t line;
  std::size_t column;
};
TextPosition PositionOf(std::string_view text, std::size_t offset);

}  // namespace qorv::tools
