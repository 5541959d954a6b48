// Test support: checks a text wrapped by str::word_wrap, space_wrap or
// column_wrap against the wrapping rule of str.h, for the unit tests and the
// wrappers' fuzz target. Plain functions without a test framework: each
// returns "" when the output keeps the rule, else what is wrong.
#pragma once

#include <algorithm>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace qorv::testing {

namespace wrap_detail {

inline std::size_t Chars(const std::string& s) {
  std::size_t n = 0;
  for (char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

inline bool Blank(char c) { return c == ' ' || c == '\t'; }

// The width of the piece of `line` starting at `pos`: up to a blank, or through a comma.
inline std::size_t PieceWidth(const std::string& line, std::size_t pos, bool commas) {
  std::size_t end = pos;
  while (end < line.size() && !Blank(line[end])) {
    if (line[end++] == ',' && commas) break;
  }
  return Chars(line.substr(pos, end - pos));
}

inline std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines{""};
  for (char c : text) {
    if (c == '\n') {
      lines.emplace_back();
    } else {
      lines.back() += c;
    }
  }
  return lines;
}

}  // namespace wrap_detail

// The continuation prefix column_wrap documents for one line: blanks up to
// the text after the separator (the first, or the last when after_last),
// unless that leaves fewer than 20 characters or less than a third of the
// width; `indent` otherwise and on lines without the separator.
inline std::string ColumnContinuation(const std::string& line, std::size_t width, const std::string& indent,
                                      char separator, bool after_last) {
  const std::size_t sep = after_last ? line.rfind(separator) : line.find(separator);
  if (sep == std::string::npos) return indent;
  const std::size_t col =
      wrap_detail::Chars(line.substr(0, std::min(line.find_first_not_of(" \t", sep + 1), line.size())));
  return col + 20 > width || 3 * (width - col) < width ? indent : std::string(col, ' ');
}

// Walks the rows of `out` against the lines of `text`: each row is its
// prefix (the line's leading blanks, then `continuation(line)`) and a run of
// the line taken in place; rows part only at blanks or after commas, drop
// the blanks there, are greedy, and exceed `width` only with one word.
inline std::string CheckWrap(const std::string& text, const std::string& out, std::size_t width, bool commas,
                             const std::function<std::string(const std::string&)>& continuation) {
  using namespace wrap_detail;
  const std::vector<std::string> lines = SplitLines(text);
  const std::vector<std::string> rows = SplitLines(out);
  std::size_t r = 0;
  for (const std::string& line : lines) {
    std::size_t pos = 0;
    while (pos < line.size() && Blank(line[pos])) ++pos;
    std::string prefix = line.substr(0, pos);
    do {
      if (r >= rows.size()) return "rows missing for the line '" + line + "'";
      const std::string& row = rows[r++];
      if (row.compare(0, prefix.size(), prefix) != 0) return "row '" + row + "' does not start with '" + prefix + "'";
      const std::string content = row.substr(prefix.size());
      if (line.compare(pos, content.size(), content) != 0) return "row '" + row + "' is not the next text of its line";
      const bool one_word = content.find_first_of(" \t") == std::string::npos &&
                            (!commas || content.empty() || content.find(',') >= content.size() - 1);
      if (Chars(row) > width && !one_word) return "row '" + row + "' is wider than the width";
      std::size_t next = pos + content.size();
      while (next < line.size() && Blank(line[next])) ++next;
      if (next < line.size()) {
        if (content.empty()) return "an empty row in the line '" + line + "'";
        if (Blank(content.back())) return "row '" + row + "' ends in a blank";
        if (next == pos + content.size() && !(commas && content.back() == ',')) {
          return "row '" + row + "' breaks inside a word";
        }
        if (Chars(row) + next - pos - content.size() + PieceWidth(line, next, commas) <= width) {
          return "row '" + row + "' breaks before the next piece would overflow";
        }
      }
      pos = next;
      prefix = continuation(line);
    } while (pos < line.size());
  }
  if (r != rows.size()) return "more rows than the text holds";
  return "";
}

}  // namespace qorv::testing
