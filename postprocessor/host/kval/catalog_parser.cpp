#include "postprocessor/host/kval/catalog_parser.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <new>
#include <optional>
#include <utility>

#include "postprocessor/host/kval/message_text.h"
#include "postprocessor/support/utf8.h"

namespace KVAL_2_18::i18n::detail {

namespace {

constexpr std::string_view kRootElement = "message-catalog";
constexpr std::string_view kMessageElement = "message";

// Raised inside the reader only; parse_catalog turns it into the error text.
struct parse_failure {
  std::size_t line;
  std::string problem;
};

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool is_ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

// Names are only compared with the few this format knows, so any byte of a
// non-ASCII character may appear in one.
bool is_name_start(char c) {
  return is_ascii_letter(c) || c == '_' || c == ':' || static_cast<unsigned char>(c) >= 0x80;
}
bool is_name_char(char c) { return is_name_start(c) || is_ascii_digit(c) || c == '-' || c == '.'; }

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

// The xs:language form: 1-8 letters, then groups of '-' and 1-8 letters or digits.
bool is_language_tag(std::string_view tag) {
  std::size_t i = 0;
  for (bool first = true;; first = false) {
    const std::size_t start = i;
    while (i < tag.size() && tag[i] != '-') {
      if (!is_ascii_letter(tag[i]) && (first || !is_ascii_digit(tag[i]))) return false;
      ++i;
    }
    if (i == start || i - start > 8) return false;
    if (i == tag.size()) return true;
    ++i;
  }
}

// Ids and catalogue names: at least one byte, no XML whitespace.
bool is_token(std::string_view value) { return !value.empty() && std::none_of(value.begin(), value.end(), is_space); }

bool is_xml_char(std::uint32_t cp) {
  return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) || (cp >= 0xE000 && cp <= 0xFFFD) ||
         (cp >= 0x10000 && cp <= 0x10FFFF);
}

std::string hex_code(std::uint32_t cp) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  do {
    out.insert(out.begin(), kDigits[cp % 16]);
    cp /= 16;
  } while (cp != 0);
  while (out.size() < 4) out.insert(out.begin(), '0');
  return "U+" + out;
}

void append_utf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool ends_line(std::string_view in, std::size_t i) {
  return in[i] == '\n' || (in[i] == '\r' && (i + 1 == in.size() || in[i + 1] != '\n'));
}

// The whole input must be UTF-8 made of characters XML allows; checking it
// once up front lets the reader treat every byte above 0x7F as text.
std::optional<parse_failure> check_characters(std::string_view in) {
  std::size_t line = 1;
  for (std::size_t i = 0; i < in.size();) {
    const auto byte = static_cast<unsigned char>(in[i]);
    if (byte < 0x80) {
      if (!is_xml_char(byte)) {
        return parse_failure{line, "control character " + hex_code(byte) + " is not allowed"};
      }
      if (ends_line(in, i)) ++line;
      ++i;
      continue;
    }
    const qorv::utf8::Decoded c = qorv::utf8::decode(in, i);
    if (!c.well_formed) return parse_failure{line, "invalid UTF-8 byte sequence"};
    if (!is_xml_char(c.code)) return parse_failure{line, "character " + hex_code(c.code) + " is not allowed"};
    i += c.length;
  }
  return std::nullopt;
}

class reader {
 public:
  reader(std::string_view in, const std::string& language) : in_(in), language_(language) {}

  void read(parsed_catalog& out);

 private:
  struct start_tag {
    std::string_view name;
    std::size_t line = 0;
    std::vector<std::pair<std::string_view, std::string>> attributes;
    bool empty = false;  // written <name/>

    const std::string* find(std::string_view attribute) const {
      for (const auto& [key, value] : attributes) {
        if (key == attribute) return &value;
      }
      return nullptr;
    }
  };

  bool at_end() const { return pos_ >= in_.size(); }
  char peek() const { return in_[pos_]; }  // REQUIRES: !at_end()
  bool looking_at(std::string_view text) const { return in_.compare(pos_, text.size(), text) == 0; }

  void advance(std::size_t count = 1) {
    const std::size_t end = std::min(in_.size(), pos_ + count);
    for (; pos_ < end; ++pos_) {
      if (ends_line(in_, pos_)) ++line_;
    }
  }

  bool skip_space() {
    const std::size_t start = pos_;
    while (!at_end() && is_space(peek())) advance();
    return pos_ != start;
  }

  [[noreturn]] void fail(std::string problem) const { fail_at(line_, std::move(problem)); }
  [[noreturn]] static void fail_at(std::size_t line, std::string problem) {
    throw parse_failure{line, std::move(problem)};
  }

  std::string_view read_name() {
    const std::size_t start = pos_;
    if (at_end() || !is_name_start(peek())) return {};
    while (!at_end() && is_name_char(peek())) advance();
    return in_.substr(start, pos_ - start);
  }

  void skip_misc();
  void skip_comment();
  void skip_processing_instruction();
  void read_xml_declaration();
  std::string_view read_tag_name();
  start_tag read_attributes(std::string_view name, std::size_t line, std::initializer_list<std::string_view> allowed);
  std::string read_attribute_value();
  void read_reference(std::string& out);
  void read_end_tag(std::string_view expected);
  void read_root_content(parsed_catalog& out, std::size_t root_line);
  parsed_message read_message(const start_tag& tag);
  void append_char(std::string& out);

  std::string_view in_;
  const std::string& language_;
  std::size_t pos_ = 0;
  std::size_t line_ = 1;
};

void reader::read(parsed_catalog& out) {
  out = {};
  if (looking_at("\xFE\xFF") || looking_at("\xFF\xFE")) {
    fail("the file is UTF-16; message catalogs are UTF-8");
  }
  if (auto failure = check_characters(in_)) throw *failure;
  if (looking_at("\xEF\xBB\xBF")) advance(3);
  if (looking_at("<?xml") && in_.size() > pos_ + 5 && is_space(in_[pos_ + 5])) {
    read_xml_declaration();
  }
  skip_misc();
  if (at_end()) fail("no root element");
  if (looking_at("<!DOCTYPE")) fail("DOCTYPE declarations are not allowed");
  if (peek() != '<') fail("text before the root element");
  if (looking_at("<!")) fail("malformed markup '<!' before the root element");

  const std::size_t root_line = line_;
  const std::string_view name = read_tag_name();
  if (name != kRootElement) {
    fail_at(root_line, "root element is <" + excerpt(name) + ">, expected <message-catalog>");
  }
  const start_tag root = read_attributes(name, root_line, {"name", "language"});
  if (const std::string* catalog_name = root.find("name")) {
    if (!is_token(*catalog_name)) {
      fail_at(root_line, "catalog name '" + excerpt(*catalog_name) + "' is empty or contains whitespace");
    }
    out.name = *catalog_name;
  }
  if (const std::string* language = root.find("language")) {
    if (!is_language_tag(*language)) {
      fail_at(root_line, "language '" + excerpt(*language) + "' is not a language tag");
    }
    if (!equal_ignoring_case(*language, language_)) {
      fail_at(root_line,
              "catalog language '" + excerpt(*language) + "' differs from the requested '" + excerpt(language_) + "'");
    }
  }
  if (!root.empty) read_root_content(out, root_line);
  skip_misc();
  if (!at_end()) fail("content after the root element");
}

void reader::skip_misc() {
  for (;;) {
    skip_space();
    if (looking_at("<!--")) {
      skip_comment();
    } else if (looking_at("<?")) {
      skip_processing_instruction();
    } else {
      return;
    }
  }
}

void reader::skip_comment() {
  const std::size_t start_line = line_;
  const std::size_t dashes = in_.find("--", pos_ + 4);
  if (dashes == std::string_view::npos) fail_at(start_line, "unterminated comment");
  advance(dashes - pos_);
  if (!looking_at("-->")) fail("'--' inside a comment");
  advance(3);
}

void reader::skip_processing_instruction() {
  const std::size_t start_line = line_;
  advance(2);
  const std::string_view target = read_name();
  // Targets are never looked at, so only plain ASCII names are taken rather
  // than checking XML's full name rules.
  const bool ascii =
      std::none_of(target.begin(), target.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
  if (target.empty() || !ascii || (!looking_at("?>") && (at_end() || !is_space(peek())))) {
    fail("malformed processing instruction");
  }
  if (equal_ignoring_case(target, "xml")) fail("the XML declaration must open the file");
  const std::size_t close = in_.find("?>", pos_);
  if (close == std::string_view::npos) fail_at(start_line, "unterminated processing instruction");
  advance(close + 2 - pos_);
}

void reader::read_xml_declaration() {
  const std::size_t start_line = line_;
  advance(5);
  std::vector<std::pair<std::string_view, std::string_view>> fields;
  for (;;) {
    const bool spaced = skip_space();
    if (looking_at("?>")) {
      advance(2);
      break;
    }
    if (at_end()) fail_at(start_line, "unterminated XML declaration");
    const std::string_view field = read_name();
    if (!spaced || field.empty()) fail("malformed XML declaration");
    skip_space();
    if (at_end() || peek() != '=') fail("malformed XML declaration");
    advance();
    skip_space();
    if (at_end() || (peek() != '"' && peek() != '\'')) fail("malformed XML declaration");
    const std::size_t close = in_.find(peek(), pos_ + 1);
    if (close == std::string_view::npos) fail_at(start_line, "unterminated XML declaration");
    fields.emplace_back(field, in_.substr(pos_ + 1, close - pos_ - 1));
    advance(close + 1 - pos_);
  }
  // XML fixes the order: version, then optionally encoding, then standalone.
  std::size_t next = 0;
  if (fields.empty() || fields[0].first != "version") fail_at(start_line, "XML declaration without a version");
  if (fields[0].second != "1.0") {
    fail_at(start_line, "XML version '" + excerpt(fields[0].second) + "' is not supported (use 1.0)");
  }
  ++next;
  if (next < fields.size() && fields[next].first == "encoding") {
    if (!equal_ignoring_case(fields[next].second, "UTF-8")) {
      fail_at(start_line, "encoding '" + excerpt(fields[next].second) + "' is not supported (use UTF-8)");
    }
    ++next;
  }
  if (next < fields.size() && fields[next].first == "standalone") {
    if (fields[next].second != "yes" && fields[next].second != "no") {
      fail_at(start_line, "malformed XML declaration");
    }
    ++next;
  }
  if (next < fields.size()) {
    fail_at(start_line, "unexpected '" + excerpt(fields[next].first) + "' in the XML declaration");
  }
}

std::string_view reader::read_tag_name() {
  advance();
  const std::string_view name = read_name();
  if (name.empty()) fail("'<' does not start a tag (write '&lt;' for a literal '<')");
  return name;
}

reader::start_tag reader::read_attributes(std::string_view name, std::size_t line,
                                          std::initializer_list<std::string_view> allowed) {
  start_tag tag;
  tag.name = name;
  tag.line = line;
  const std::string element = "<" + std::string(name) + ">";
  for (;;) {
    const bool spaced = skip_space();
    if (at_end()) fail_at(line, "unterminated start tag " + element);
    if (looking_at("/>")) {
      advance(2);
      tag.empty = true;
      return tag;
    }
    if (peek() == '>') {
      advance();
      return tag;
    }
    const std::string_view attribute = read_name();
    if (!spaced || attribute.empty()) fail("malformed start tag " + element);
    // Refusing unknown names at once also bounds the attribute list.
    if (std::find(allowed.begin(), allowed.end(), attribute) == allowed.end()) {
      fail("unknown attribute '" + excerpt(attribute) + "' on " + element);
    }
    if (tag.find(attribute)) fail("duplicate attribute '" + std::string(attribute) + "' on " + element);
    skip_space();
    if (at_end() || peek() != '=') fail("attribute '" + std::string(attribute) + "' has no value");
    advance();
    skip_space();
    if (at_end() || (peek() != '"' && peek() != '\'')) {
      fail("value of attribute '" + std::string(attribute) + "' is not quoted");
    }
    tag.attributes.emplace_back(attribute, read_attribute_value());
  }
}

std::string reader::read_attribute_value() {
  const char quote = peek();
  const std::size_t start_line = line_;
  advance();
  std::string value;
  for (;;) {
    if (at_end()) fail_at(start_line, "unterminated attribute value");
    const char c = peek();
    if (c == quote) {
      advance();
      return value;
    }
    if (c == '<') fail("'<' in an attribute value (write '&lt;')");
    if (c == '&') {
      read_reference(value);
      continue;
    }
    // XML turns each line end and each literal whitespace character of an
    // attribute value into one space.
    if (looking_at("\r\n")) advance();
    value += is_space(c) ? ' ' : c;
    advance();
  }
}

void reader::read_reference(std::string& out) {
  advance();
  if (!at_end() && peek() == '#') {
    advance();
    const bool hex = !at_end() && peek() == 'x';
    if (hex) advance();
    std::uint32_t cp = 0;
    std::size_t digits = 0;
    for (; !at_end(); advance(), ++digits) {
      const char c = peek();
      int digit = -1;
      if (is_ascii_digit(c)) {
        digit = c - '0';
      } else if (hex && c >= 'a' && c <= 'f') {
        digit = c - 'a' + 10;
      } else if (hex && c >= 'A' && c <= 'F') {
        digit = c - 'A' + 10;
      }
      if (digit < 0) break;
      // Stop accumulating once out of range; the value stays out of range.
      if (cp <= 0x10FFFF) cp = cp * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
    }
    if (digits == 0 || at_end() || peek() != ';') fail("malformed character reference");
    advance();
    if (!is_xml_char(cp)) fail("character reference to a character XML does not allow");
    append_utf8(out, cp);
    return;
  }
  const std::string_view name = read_name();
  if (name.empty() || at_end() || peek() != ';') {
    fail("'&' does not start a reference (write '&amp;' for a literal '&')");
  }
  advance();
  if (name == "lt") {
    out += '<';
  } else if (name == "gt") {
    out += '>';
  } else if (name == "amp") {
    out += '&';
  } else if (name == "quot") {
    out += '"';
  } else if (name == "apos") {
    out += '\'';
  } else {
    fail("unknown entity '&" + excerpt(name) + ";' (only &lt; &gt; &amp; &quot; &apos; and character references)");
  }
}

void reader::read_end_tag(std::string_view expected) {
  const std::size_t line = line_;
  advance(2);
  const std::string_view name = read_name();
  skip_space();
  if (name.empty() || at_end() || peek() != '>') fail("malformed end tag");
  advance();
  if (name != expected) {
    fail_at(line, "end tag </" + excerpt(name) + "> does not match <" + std::string(expected) + ">");
  }
}

void reader::read_root_content(parsed_catalog& out, std::size_t root_line) {
  for (;;) {
    skip_space();
    if (at_end()) fail_at(root_line, "<message-catalog> is not closed");
    if (looking_at("</")) {
      read_end_tag(kRootElement);
      return;
    }
    if (looking_at("<!--")) {
      skip_comment();
    } else if (looking_at("<?")) {
      skip_processing_instruction();
    } else if (peek() != '<' || looking_at("<![CDATA[")) {
      fail("text outside a message");
    } else if (looking_at("<!")) {
      fail("malformed markup '<!'");
    } else {
      const std::size_t line = line_;
      const std::string_view name = read_tag_name();
      if (name != kMessageElement) fail_at(line, "unknown element <" + excerpt(name) + "> (expected <message>)");
      out.messages.push_back(read_message(read_attributes(name, line, {"id"})));
    }
  }
}

parsed_message reader::read_message(const start_tag& tag) {
  const std::string* id = tag.find("id");
  if (!id) fail_at(tag.line, "<message> without an id attribute");
  if (!is_token(*id)) fail_at(tag.line, "message id '" + excerpt(*id) + "' is empty or contains whitespace");

  std::string text;
  // (offset in text, line in file) where the file line changes, so that a
  // placeholder error can name the line the brace is on.
  std::vector<std::pair<std::size_t, std::size_t>> line_marks;
  auto mark = [&] {
    if (line_marks.empty() || line_marks.back().second != line_) line_marks.emplace_back(text.size(), line_);
  };
  while (!tag.empty) {
    if (at_end()) fail_at(tag.line, "message '" + excerpt(*id) + "' is not closed");
    if (looking_at("</")) {
      read_end_tag(kMessageElement);
      break;
    }
    if (looking_at("<!--")) {
      skip_comment();
    } else if (looking_at("<?")) {
      skip_processing_instruction();
    } else if (looking_at("<![CDATA[")) {
      const std::size_t start_line = line_;
      advance(9);
      const std::size_t close = in_.find("]]>", pos_);
      if (close == std::string_view::npos) fail_at(start_line, "unterminated CDATA section");
      while (pos_ < close) {
        mark();
        append_char(text);
      }
      advance(3);
    } else if (looking_at("<!")) {
      fail("malformed markup '<!'");
    } else if (peek() == '<') {
      const std::string_view name = read_tag_name();
      fail("element <" + excerpt(name) + "> is not allowed inside a message");
    } else if (peek() == '&') {
      mark();
      read_reference(text);
    } else if (looking_at("]]>")) {
      fail("']]>' outside a CDATA section (write ']]&gt;')");
    } else {
      mark();
      append_char(text);
    }
  }

  auto parts = std::make_shared<message_parts>();
  if (const auto error = split_message_text(text, *parts)) {
    const auto after = std::upper_bound(
        line_marks.begin(), line_marks.end(), error->offset,
        [](std::size_t offset, const std::pair<std::size_t, std::size_t>& m) { return offset < m.first; });
    const std::size_t line = after == line_marks.begin() ? tag.line : std::prev(after)->second;
    fail_at(line, "message '" + excerpt(*id) + "': " + error->problem);
  }
  return parsed_message{*id, message_t(std::move(parts)), tag.line};
}

// Copies one character of text, turning each line end (CR LF or a lone CR)
// into LF as XML requires.
void reader::append_char(std::string& out) {
  const char c = peek();
  if (c == '\r') {
    if (looking_at("\r\n")) advance();
    out += '\n';
  } else {
    out += c;
  }
  advance();
}

}  // namespace

std::string parse_catalog(std::string_view bytes, const std::string& path, const std::string& language,
                          parsed_catalog& out) {
  if (bytes.size() > kMaxCatalogBytes) return path + ": message catalog is larger than 64 MiB";
  try {
    reader(bytes, language).read(out);
    return {};
  } catch (const parse_failure& failure) {
    return path + ":" + std::to_string(failure.line) + ": " + failure.problem;
  } catch (const std::bad_alloc&) {
    return path + ": out of memory while reading the message catalog";
  }
}

}  // namespace KVAL_2_18::i18n::detail
