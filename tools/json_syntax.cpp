#include "tools/json_syntax.h"

#include <algorithm>
#include <cctype>

#include "postprocessor/support/utf8.h"

namespace qorv::tools {

namespace {

class Checker {
 public:
  Checker(std::string_view text, std::size_t max_depth) : text_(text), max_depth_(max_depth) {}

  std::optional<SyntaxError> Run() {
    SkipSpace();
    if (AtEnd()) return SyntaxError{pos_, "the file holds no JSON value"};
    if (!Value(0)) return error_;
    SkipSpace();
    if (!AtEnd()) return SyntaxError{pos_, "unexpected text after the end of the JSON value"};
    return std::nullopt;
  }

 private:
  bool AtEnd() const { return pos_ >= text_.size(); }
  unsigned char Peek() const { return static_cast<unsigned char>(text_[pos_]); }

  bool Fail(std::string problem) {
    error_ = SyntaxError{std::min(pos_, text_.size()), std::move(problem)};
    return false;
  }

  void SkipSpace() {
    while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r')) ++pos_;
  }

  bool Expect(char c, const char* problem) {
    SkipSpace();
    if (AtEnd() || text_[pos_] != c) return Fail(AtEnd() ? std::string("the file ends early: ") + problem : problem);
    ++pos_;
    return true;
  }

  bool Value(std::size_t depth) {
    SkipSpace();
    if (AtEnd()) return Fail("the file ends early: expected a value");
    switch (text_[pos_]) {
      case '{': return Container(depth + 1, '}');
      case '[': return Container(depth + 1, ']');
      case '"': return String();
      case 't': return Word("true");
      case 'f': return Word("false");
      case 'n': return Word("null");
      default:
        if (text_[pos_] == '-' || (text_[pos_] >= '0' && text_[pos_] <= '9')) return Number();
        return Fail("expected a value (object, array, string, number, true, false or null)");
    }
  }

  // An object or an array: members separated by commas, up to `close`.
  bool Container(std::size_t depth, char close) {
    if (depth > max_depth_) return Fail("nesting deeper than " + std::to_string(max_depth_) + " levels");
    ++pos_;
    SkipSpace();
    if (!AtEnd() && text_[pos_] == close) return ++pos_, true;
    const std::string expected = std::string("expected ',' or '") + close + "'";
    for (;;) {
      if (!(close == '}' ? Field(depth) : Value(depth))) return false;
      SkipSpace();
      if (AtEnd()) return Fail("the file ends early: " + expected);
      if (text_[pos_] == close) return ++pos_, true;
      if (text_[pos_] != ',') return Fail(expected + (close == '}' ? " after a field" : " after an array element"));
      ++pos_;
    }
  }

  bool Field(std::size_t depth) {
    SkipSpace();
    if (AtEnd()) return Fail("the file ends early: expected a field name");
    if (text_[pos_] != '"') return Fail("expected a field name in double quotes");
    return String() && Expect(':', "expected ':' after the field name") && Value(depth);
  }

  bool Word(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word)
      return Fail("expected a value (did you mean '" + std::string(word) + "'?)");
    pos_ += word.size();
    return true;
  }

  bool Digits() {
    if (AtEnd() || Peek() < '0' || Peek() > '9') return Fail("malformed number: expected a digit");
    while (!AtEnd() && Peek() >= '0' && Peek() <= '9') ++pos_;
    return true;
  }

  bool Number() {
    if (text_[pos_] == '-') ++pos_;
    if (!AtEnd() && text_[pos_] == '0') {
      ++pos_;
      if (!AtEnd() && Peek() >= '0' && Peek() <= '9') return Fail("malformed number: leading zero");
    } else if (!Digits()) {
      return false;
    }
    if (!AtEnd() && text_[pos_] == '.') {
      ++pos_;
      if (!Digits()) return false;
    }
    if (!AtEnd() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
      ++pos_;
      if (!AtEnd() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
      if (!Digits()) return false;
    }
    return true;
  }

  bool String() {
    ++pos_;
    for (;;) {
      if (AtEnd()) return Fail("the file ends early: a string is not closed");
      const unsigned char c = Peek();
      if (c == '"') return ++pos_, true;
      if (c < 0x20) return Fail("control character in a string (write it as an escape such as \\n)");
      if (c == '\\') {
        ++pos_;
        if (AtEnd()) return Fail("the file ends early: a string is not closed");
        const char e = text_[pos_];
        if (e == 'u') {
          for (int i = 1; i <= 4; ++i) {
            if (pos_ + i >= text_.size() || !std::isxdigit(static_cast<unsigned char>(text_[pos_ + i]))) {
              return Fail("malformed \\u escape: expected four hex digits");
            }
          }
          pos_ += 5;
        } else if (std::string_view("\"\\/bfnrt").find(e) != std::string_view::npos) {
          ++pos_;
        } else {
          return Fail(std::string("unknown escape '\\") + e + "' in a string");
        }
        continue;
      }
      if (c < 0x80) {
        ++pos_;
        continue;
      }
      const utf8::Decoded character = utf8::decode(text_, pos_);
      if (!character.well_formed) return Fail("invalid UTF-8 in a string");
      pos_ += character.length;
    }
  }

  std::string_view text_;
  std::size_t max_depth_;
  std::size_t pos_ = 0;
  SyntaxError error_{0, ""};
};

}  // namespace

std::optional<SyntaxError> FindSyntaxError(std::string_view text, std::size_t max_depth) {
  // A byte order mark is not JSON, but editors write one; say so plainly.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") return SyntaxError{0, "the file starts with a byte order mark"};
  return Checker(text, max_depth).Run();
}

TextPosition PositionOf(std::string_view text, std::size_t offset) {
  offset = std::min(offset, text.size());
  TextPosition position{1, 1};
  for (std::size_t i = 0; i < offset; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\n') {
      ++position.line;
      position.column = 1;
    } else if (!utf8::continues(static_cast<char>(c))) {
      ++position.column;
    }
  }
  return position;
}

}  // namespace qorv::tools
