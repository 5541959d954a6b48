#include "postprocessor/host/str.h"

#include <cstddef>

#include "postprocessor/support/utf8.h"

namespace qorv::str {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

bool starts_char(char c) { return !utf8::continues(c); }

std::size_t chars_in(const std::string& text, std::size_t begin, std::size_t end) {
  std::size_t count = 0;
  for (std::size_t i = begin; i < end; ++i) count += starts_char(text[i]) ? 1 : 0;
  return count;
}

std::size_t skip_blanks(const std::string& text, std::size_t pos, std::size_t end) {
  while (pos < end && is_blank(text[pos])) ++pos;
  return pos;
}

// Appends text[begin, end), one line without its '\n', to `out`, broken
// greedily into rows of at most `width` characters. Each row takes at least
// one piece, so a continuation prefix as wide as the row cannot stall the
// walk. A line of blanks only is copied as it is.
void wrap_line(const std::string& text, std::size_t begin, std::size_t end, std::size_t width, bool at_commas,
               const std::string& continuation, std::string& out) {
  std::size_t pos = skip_blanks(text, begin, end);
  out.append(text, begin, pos - begin);
  if (pos == end) return;

  std::size_t continuation_width = std::string::npos;  // measured at the first break
  std::size_t column = chars_in(text, begin, pos);
  std::size_t gap_begin = pos;
  bool first_piece = true;
  while (pos < end) {
    // A piece runs to the next blank, or through the next comma when commas
    // are break opportunities.
    std::size_t piece_end = pos;
    std::size_t piece_width = 0;
    while (piece_end < end && !is_blank(text[piece_end])) {
      piece_width += starts_char(text[piece_end]) ? 1 : 0;
      if (text[piece_end++] == ',' && at_commas) break;
    }
    const std::size_t gap_width = pos - gap_begin;  // blanks are single-byte
    if (!first_piece && column + gap_width + piece_width > width) {
      out += '\n';
      out += continuation;
      if (continuation_width == std::string::npos) {
        continuation_width = chars_in(continuation, 0, continuation.size());
      }
      column = continuation_width;
    } else {
      out.append(text, gap_begin, gap_width);
      column += gap_width;
    }
    out.append(text, pos, piece_end - pos);
    column += piece_width;
    first_piece = false;
    gap_begin = piece_end;
    pos = skip_blanks(text, piece_end, end);
  }
  // Blanks closing the line are kept while they fit, so a line that needs no
  // break comes out unchanged.
  if (column + (end - gap_begin) <= width) out.append(text, gap_begin, end - gap_begin);
}

// Wraps every line of `text` on its own; `continuation_for` gives the prefix
// of the continuation rows of the line text[begin, end).
template <typename ContinuationFor>
std::string wrap_lines(const std::string& text, int width, bool at_commas, ContinuationFor continuation_for) {
  if (width <= 0) return text;
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  std::size_t begin = 0;
  while (true) {
    std::size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    wrap_line(text, begin, end, static_cast<std::size_t>(width), at_commas, continuation_for(begin, end), out);
    if (end == text.size()) break;
    out += '\n';
    begin = end + 1;
  }
  return out;
}

}  // namespace

std::string word_wrap(const std::string& text, int width, const std::string& indent) {
  return wrap_lines(text, width, true, [&](std::size_t, std::size_t) -> const std::string& { return indent; });
}

std::string space_wrap(const std::string& text, int width, const std::string& indent) {
  return wrap_lines(text, width, false, [&](std::size_t, std::size_t) -> const std::string& { return indent; });
}

std::string column_wrap(const std::string& text, int width, const std::string& indent, char separator,
                        bool after_last) {
  const std::size_t row_width = width > 0 ? static_cast<std::size_t>(width) : 0;
  std::string aligned;
  return wrap_lines(text, width, true, [&](std::size_t begin, std::size_t end) -> const std::string& {
    std::size_t found = end;
    for (std::size_t i = begin; i < end; ++i) {
      if (text[i] != separator) continue;
      found = i;
      if (!after_last) break;
    }
    if (found == end) return indent;
    const std::size_t column = chars_in(text, begin, skip_blanks(text, found + 1, end));
    const std::size_t room = row_width > column ? row_width - column : 0;
    // A column this far right would squeeze the text into a sliver.
    if (room < 20 || 3 * room < row_width) return indent;
    aligned.assign(column, ' ');
    return aligned;
  });
}

}  // namespace qorv::str
