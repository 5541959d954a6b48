#include "tools/json_reader.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>

#include "tools/json_syntax.h"

namespace qorv::tools {

namespace {

// Edit distance ignoring ASCII case, for suggesting the field a typo meant.
std::size_t Distance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      const bool same =
          std::tolower(static_cast<unsigned char>(a[i - 1])) == std::tolower(static_cast<unsigned char>(b[j - 1]));
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// A message shows names and text of the file as they are, except control
// characters (a "\n" in a key, a stray byte after a backslash, a C1 control
// such as U+009B): written as JSON escapes, they can neither break the
// message's one line nor drive the terminal.
std::string Printable(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    if (byte == 0xc2 && next >= 0x80 && next <= 0x9f) {
      out += "\\u00";
      out += kHex[next >> 4];
      out += kHex[next & 0xf];
      ++i;
    } else if (byte >= 0x20 && byte != 0x7f) {
      out += text[i];
    } else if (byte == '\n') {
      out += "\\n";
    } else if (byte == '\t') {
      out += "\\t";
    } else {
      out += "\\u00";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xf];
    }
  }
  return out;
}

// The whole file, padded for the parser.
simdjson::padded_string Load(const std::string& path, const std::string& kind) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw JsonReadError(Printable(path) + ": cannot open " + kind + ": " + std::strerror(errno));
  struct stat info {};
  const bool stated = ::fstat(fd, &info) == 0;
  if (!stated || !S_ISREG(info.st_mode)) {
    // errno speaks for a failed fstat only: after a successful one it is
    // whatever an earlier call left there.
    const int error = !stated ? errno : S_ISDIR(info.st_mode) ? EISDIR : 0;
    ::close(fd);
    throw JsonReadError(Printable(path) + ": cannot read " + kind + ": " +
                        (error ? std::strerror(error) : std::string("not a regular file")));
  }
  simdjson::padded_string text(static_cast<std::size_t>(info.st_size));
  // The buffer comes back empty-handed, not with an exception, when memory
  // runs out.
  if (text.data() == nullptr) {
    ::close(fd);
    throw std::bad_alloc();
  }
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t got = ::read(fd, text.data() + done, text.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      const int error = got < 0 ? errno : 0;
      ::close(fd);
      throw JsonReadError(Printable(path) + ": cannot read " + kind + ": " +
                          (error ? std::strerror(error) : std::string("the file shrank while being read")));
    }
    done += static_cast<std::size_t>(got);
  }
  ::close(fd);
  return text;
}

}  // namespace

JsonReader::JsonReader(std::string path, std::string kind, std::size_t max_depth)
    : file_(std::move(path)), kind_(std::move(kind)), max_depth_(max_depth), text_(Load(file_, kind_)) {}

od::value JsonReader::Top() {
  if (!simdjson::validate_utf8(text_.data(), text_.size())) FailSyntax(simdjson::UTF8_ERROR, nullptr);
  if (const auto error = parser_.iterate(text_).get(document_)) {
    if (error == simdjson::MEMALLOC) throw std::bad_alloc();
    FailSyntax(error, nullptr);
  }
  od::value top;
  if (const auto error = document_.get_value().get(top)) FailSyntax(error, text_.data());
  return top;
}

void JsonReader::End() {
  const char* end = nullptr;
  if (!document_.current_location().get(end)) FailSyntax(simdjson::TRAILING_CONTENT, end);
}

// --- failures -----------------------------------------------------------------

// A file that is also malformed reports its first syntax error instead,
// wherever that lies: that is what to mend first.
void JsonReader::Fail(const char* at, const std::string& path, const std::string& problem) const {
  if (const auto syntax = FindSyntaxError(Whole(), max_depth_))
    Report(text_.data() + syntax->offset, "", syntax->problem);
  Report(at, path, problem);
}

void JsonReader::FailSyntax(simdjson::error_code error, const char* at) const {
  Fail(at, simdjson::error_message(error));
}

void JsonReader::Report(const char* at, const std::string& path, const std::string& problem) const {
  std::string message = file_;
  if (at && at >= text_.data() && at <= text_.data() + text_.size()) {
    const auto offset = static_cast<std::size_t>(at - text_.data());
    if (offset <= Whole().size()) {
      const auto position = PositionOf(Whole(), offset);
      message += ":" + std::to_string(position.line) + ":" + std::to_string(position.column);
    }
  }
  message += ": ";
  if (!path.empty()) message += path + ": ";
  throw JsonReadError(Printable(message + problem));
}

void JsonReader::Release(const char* upto) {
  constexpr std::uintptr_t kStep = std::uintptr_t{1} << 22;
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto first = (reinterpret_cast<std::uintptr_t>(text_.data()) + page - 1) / page * page;
  const auto from = std::max(first, released_end_);
  const auto end = reinterpret_cast<std::uintptr_t>(upto) / page * page;
  if (end < from + kStep) return;
  if (::madvise(reinterpret_cast<void*>(from), end - from, MADV_DONTNEED) == 0) released_end_ = end;
}

std::string_view JsonReader::Whole() const {
  if (released_end_ == 0) return text_;
  if (!reread_) reread_ = std::make_unique<simdjson::padded_string>(Load(file_, kind_));
  return *reread_;
}

// --- the field path -----------------------------------------------------------

std::string JsonReader::Path() const {
  std::string path;
  for (const auto& step : path_) {
    switch (step.kind) {
      case Step::kField:
        if (!path.empty()) path += '.';
        path += step.name;
        break;
      case Step::kKey: path += "[\"" + std::string(step.name) + "\"]"; break;
      case Step::kIndex: path += "[" + std::to_string(step.index) + "]"; break;
    }
  }
  return path;
}

// --- values -------------------------------------------------------------------

const char* JsonReader::TypeName(od::json_type type) {
  switch (type) {
    case od::json_type::array: return "an array";
    case od::json_type::object: return "an object";
    case od::json_type::number: return "a number";
    case od::json_type::string: return "a string";
    case od::json_type::boolean: return "true or false";
    case od::json_type::null: return "null";
  }
  return "a value";
}

void JsonReader::Expect(od::value& v, od::json_type type) {
  const auto found = TypeOf(v);
  if (found != type) Fail(At(v), std::string("expected ") + TypeName(type) + ", found " + TypeName(found));
}

std::string JsonReader::Token(od::value& v) {
  std::string_view raw = v.raw_json_token();
  while (!raw.empty() && std::strchr(" \t\r\n", raw.back())) raw.remove_suffix(1);
  if (raw.size() > 40) return std::string(raw.substr(0, 37)) + "...";
  return std::string(raw);
}

std::string JsonReader::String(od::value v) {
  const char* at = At(v);
  std::string_view raw;
  if (RawString(v, raw)) return std::string(raw);
  return std::string(Get(v.get_string(), at));
}

// A string without escapes, as the file writes it, in `text`; false, with
// the value left unread, when it has escapes. Taken from the file rather
// than through the parser's string buffer, which would grow by every string
// of the file (and must not unescape a string twice).
bool JsonReader::RawString(od::value& v, std::string_view& text) {
  const char* at = At(v);
  Expect(v, od::json_type::string);
  // The fast parser lets raw control characters through; JSON does not.
  bool escaped = false;
  const char* p = at + 1;
  for (; *p != '"'; ++p) {
    if (*p == '\\') {
      ++p;
      escaped = true;
    } else if (static_cast<unsigned char>(*p) < 0x20) {
      FailSyntax(simdjson::UNESCAPED_CHARS, at);
    }
  }
  if (escaped) return false;
  Get(v.get_raw_json_string(), at);
  text = std::string_view(at + 1, static_cast<std::size_t>(p - at - 1));
  return true;
}

bool JsonReader::StringIs(od::value v, std::string_view expected) {
  std::string_view raw;
  return RawString(v, raw) && raw == expected;
}

bool JsonReader::StringsAre(od::value v, const std::vector<std::string>& expected) {
  return ArrayIs(v, expected.size(), [&](std::size_t i, od::value item) { return StringIs(item, expected[i]); });
}

// A field's key: as written when it has no escapes, else unescaped.
std::string_view JsonReader::Key(od::field& f, const char* key_at) {
  const char* end = key_at + 1;
  while (*end != '"' && *end != '\\') ++end;
  if (*end == '"') return std::string_view(key_at + 1, static_cast<std::size_t>(end - key_at - 1));
  return Get(f.unescaped_key(), key_at);
}

bool JsonReader::KeyEscaped(od::field& f) {
  for (const char* p = f.key().raw(); *p != '"'; ++p) {
    if (*p == '\\') return true;
  }
  return false;
}

bool JsonReader::Bool(od::value v) {
  Expect(v, od::json_type::boolean);
  return Get(v.get_bool(), At(v));
}

std::int64_t JsonReader::Integer(od::value v, std::int64_t low, std::int64_t high) {
  const char* at = At(v);
  Expect(v, od::json_type::number);
  // Made only for a message: a million records each give a severity.
  const auto range = [low, high] {
    return "a whole number from " + std::to_string(low) + " to " + std::to_string(high);
  };
  od::number number;
  if (v.get_number().get(number)) {
    // Well-formed but not representable: an integer beyond 64 bits.
    Fail(at, Token(v) + " is out of range (" + range() + ")");
  }
  bool in_range = false;
  std::int64_t result = 0;
  switch (number.get_number_type()) {
    case od::number_type::signed_integer:
      result = number.get_int64();
      in_range = result >= low && result <= high;
      break;
    case od::number_type::unsigned_integer: break;
    case od::number_type::floating_point_number: {
      const double real = number.get_double();
      if (real >= static_cast<double>(low) && real <= static_cast<double>(high)) {
        if (std::floor(real) != real) Fail(at, Token(v) + " is not a whole number (" + range() + ")");
        result = static_cast<std::int64_t>(real);
        in_range = true;
      }
      break;
    }
  }
  if (!in_range) Fail(at, Token(v) + " is out of range (" + range() + ")");
  return result;
}

std::vector<std::string> JsonReader::Strings(od::value v) {
  std::vector<std::string> strings;
  Array(v, [&](od::value item) { strings.push_back(String(item)); });
  return strings;
}

std::set<std::string> JsonReader::StringSet(od::value v) {
  std::set<std::string> strings;
  Array(v, [&](od::value item) { strings.insert(strings.end(), String(item)); });
  return strings;
}

// --- containers ---------------------------------------------------------------

od::object JsonReader::Object(od::value& v) {
  Expect(v, od::json_type::object);
  return Get(v.get_object(), At(v));
}

std::size_t JsonReader::FieldIndex(od::field& f, const std::string_view* names, std::size_t count,
                                   std::uint64_t& present) {
  const char* key_at = f.key().raw() - 1;
  const std::string_view key = Key(f, key_at);
  std::size_t index = 0;
  while (index < count && names[index] != key) ++index;
  if (index == count) {
    std::string problem = "unknown field '" + std::string(key) + "'";
    std::string_view best;
    std::size_t best_distance = 3;
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t distance = Distance(key, names[i]);
      if (distance < best_distance) best = names[i], best_distance = distance;
    }
    if (!best.empty()) problem += " (did you mean '" + std::string(best) + "'?)";
    Fail(key_at, problem);
  }
  if (present & (std::uint64_t{1} << index)) Fail(key_at, "field '" + std::string(key) + "' is given twice");
  present |= std::uint64_t{1} << index;
  return index;
}

}  // namespace qorv::tools
