#include "tools/run_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <new>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include <simdjson.h>

#include "tools/json_syntax.h"

namespace qorv::tools {

namespace {

namespace od = simdjson::ondemand;

// Run files nest a few levels; anything deeper is not a run.
constexpr std::size_t kMaxDepth = 32;

// A name given in one place that must match a definition given elsewhere,
// checked once the whole file is read.
struct Reference {
  std::string name;
  const char* at = nullptr;
  std::string path;
};

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

template <std::size_t N>
using FieldNames = std::array<std::string_view, N>;

simdjson::padded_string Load(const std::string& path);

// Reads the values of one run file through simdjson's On-Demand API, in
// file order and without a document tree, and keeps the field path of the
// value at hand so that every problem is reported with its place.
class Reader {
 public:
  Reader(std::string file, const simdjson::padded_string& json) : file_(std::move(file)), text_(json) {}

  // --- failures -------------------------------------------------------------

  // A problem with a value. A file that is also malformed reports its first
  // syntax error instead, wherever that lies: that is what to mend first.
  [[noreturn]] void Fail(const char* at, const std::string& path, const std::string& problem) const {
    if (const auto syntax = FindSyntaxError(Whole(), kMaxDepth))
      Report(text_.data() + syntax->offset, "", syntax->problem);
    Report(at, path, problem);
  }
  [[noreturn]] void Fail(const char* at, const std::string& problem) const { Fail(at, Path(), problem); }

  // simdjson found the text malformed: the strict check says where and why;
  // when it finds the text well-formed the problem lies in a value at `at`.
  [[noreturn]] void FailSyntax(simdjson::error_code error, const char* at) const {
    Fail(at, simdjson::error_message(error));
  }

  [[noreturn]] void Report(const char* at, const std::string& path, const std::string& problem) const {
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
    throw RunFileError(Printable(message + problem));
  }

  // Gives the memory of the text before `upto`, which the reading has left
  // behind for good, back to the system, a large step at a time: the issue
  // lists are most of a large file. A failure reads the file again for its
  // syntax check and positions (Whole).
  void Release(const char* upto) {
    constexpr std::uintptr_t kStep = std::uintptr_t{1} << 22;
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto first = (reinterpret_cast<std::uintptr_t>(text_.data()) + page - 1) / page * page;
    const auto from = std::max(first, released_end_);
    const auto end = reinterpret_cast<std::uintptr_t>(upto) / page * page;
    if (end < from + kStep) return;
    if (::madvise(reinterpret_cast<void*>(from), end - from, MADV_DONTNEED) == 0) released_end_ = end;
  }

  template <typename T>
  T Get(simdjson::simdjson_result<T>&& result, const char* at) const {
    T value;
    if (const auto error = std::move(result).get(value)) FailSyntax(error, at);
    return value;
  }

  // --- the field path of messages ---------------------------------------------

  struct Step {
    enum Kind { kField, kKey, kIndex } kind;
    std::string_view name;
    std::size_t index;
  };

  std::string Path() const {
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

  class Scope {
   public:
    Scope(Reader& reader, Step step) : reader_(reader) { reader_.path_.push_back(step); }
    ~Scope() { reader_.path_.pop_back(); }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    Reader& reader_;
  };

  // --- values -----------------------------------------------------------------

  static const char* At(od::value& value) { return value.raw_json_token().data(); }

  static const char* TypeName(od::json_type type) {
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

  od::json_type TypeOf(od::value& value) { return Get(value.type(), At(value)); }

  void Expect(od::value& value, od::json_type type) {
    const auto found = TypeOf(value);
    if (found != type) Fail(At(value), std::string("expected ") + TypeName(type) + ", found " + TypeName(found));
  }

  // The token as the file writes it, shortened for a message.
  static std::string Token(od::value& value) {
    std::string_view raw = value.raw_json_token();
    while (!raw.empty() && std::strchr(" \t\r\n", raw.back())) raw.remove_suffix(1);
    if (raw.size() > 40) return std::string(raw.substr(0, 37)) + "...";
    return std::string(raw);
  }

  std::string String(od::value value) {
    const char* at = At(value);
    std::string_view raw;
    if (RawString(value, raw)) return std::string(raw);
    return std::string(Get(value.get_string(), at));
  }

  // A string without escapes, as the file writes it, in `text`; false,
  // with the value left unread, when it has escapes. Taken from the file
  // rather than through the parser's string buffer, which would grow by
  // every string of the file (and must not unescape a string twice).
  bool RawString(od::value& value, std::string_view& text) {
    const char* at = At(value);
    Expect(value, od::json_type::string);
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
    Get(value.get_raw_json_string(), at);
    text = std::string_view(at + 1, static_cast<std::size_t>(p - at - 1));
    return true;
  }

  // A field's key: as written when it has no escapes, else unescaped.
  std::string_view Key(od::field& field, const char* key_at) {
    const char* end = key_at + 1;
    while (*end != '"' && *end != '\\') ++end;
    if (*end == '"') return std::string_view(key_at + 1, static_cast<std::size_t>(end - key_at - 1));
    return Get(field.unescaped_key(), key_at);
  }

  bool Bool(od::value value) {
    Expect(value, od::json_type::boolean);
    return Get(value.get_bool(), At(value));
  }

  std::int64_t Integer(od::value value, std::int64_t low, std::int64_t high) {
    const char* at = At(value);
    Expect(value, od::json_type::number);
    // Made only for a message: a million records each give a severity.
    const auto range = [low, high] {
      return "a whole number from " + std::to_string(low) + " to " + std::to_string(high);
    };
    od::number number;
    if (value.get_number().get(number)) {
      // Well-formed but not representable: an integer beyond 64 bits.
      Fail(at, Token(value) + " is out of range (" + range() + ")");
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
          if (std::floor(real) != real) Fail(at, Token(value) + " is not a whole number (" + range() + ")");
          result = static_cast<std::int64_t>(real);
          in_range = true;
        }
        break;
      }
    }
    if (!in_range) Fail(at, Token(value) + " is out of range (" + range() + ")");
    return result;
  }

  KVAL_2_18::types::variant Argument(od::value value) {
    if (ArgumentType(value) == od::json_type::string) return String(value);
    return NumberArgument(value);
  }

  // The type of a message argument: a string or a number.
  od::json_type ArgumentType(od::value& value) {
    const auto type = TypeOf(value);
    if (type != od::json_type::string && type != od::json_type::number) {
      Fail(At(value), std::string("expected a string or a number, found ") + TypeName(type));
    }
    return type;
  }

  KVAL_2_18::types::variant NumberArgument(od::value& value) {
    const char* at = At(value);
    od::number number;
    if (value.get_number().get(number)) {
      Fail(at, Token(value) + " is out of range (a whole number of at most 64 bits, or a decimal number)");
    }
    switch (number.get_number_type()) {
      case od::number_type::signed_integer: return number.get_int64();
      case od::number_type::unsigned_integer: return number.get_uint64();
      case od::number_type::floating_point_number: break;
    }
    const double real = number.get_double();
    if (!std::isfinite(real)) Fail(at, Token(value) + " is out of range");
    return real;
  }

  // --- containers -------------------------------------------------------------

  // Calls each(element) for every element of an array.
  template <typename Each>
  void Array(od::value value, Each&& each) {
    ArrayCounted(value, nullptr, each);
  }

  // The same, calling reserve(n) first with the number of elements (a quick
  // extra pass over the array) so that a long list is allocated once.
  template <typename Reserve, typename Each>
  void ArrayCounted(od::value value, Reserve&& reserve, Each&& each) {
    const char* at = At(value);
    Expect(value, od::json_type::array);
    od::array array = Get(value.get_array(), at);
    if constexpr (!std::is_null_pointer_v<std::decay_t<Reserve>>) reserve(Get(array.count_elements(), at));
    std::size_t index = 0;
    for (auto element : array) {
      od::value item = Get(std::move(element), at);
      Scope scope(*this, {Step::kIndex, {}, index++});
      each(item);
    }
  }

  // Calls each(key, key_position, value) for every field of an object whose
  // keys are free (maps keyed by id or name).
  template <typename Each>
  void Map(od::value value, Each&& each) {
    const char* at = At(value);
    Expect(value, od::json_type::object);
    od::object object = Get(value.get_object(), at);
    std::unordered_set<std::string_view> seen;
    for (auto field_result : object) {
      od::field field = Get(std::move(field_result), at);
      const char* key_at = field.key().raw() - 1;
      const std::string_view key = Key(field, key_at);
      if (!seen.insert(key).second) Fail(key_at, "'" + std::string(key) + "' is given twice");
      Scope scope(*this, {Step::kKey, key, 0});
      each(key, key_at, field.value());
    }
  }

  // Calls each(index into names, value) for every field of a record with a
  // fixed set of fields; an unknown or repeated field is an error. Returns
  // the set of fields present, one bit per index.
  template <std::size_t N, typename Each>
  std::uint64_t Record(od::value value, const FieldNames<N>& names, Each&& each) {
    const char* at = At(value);
    od::object object = Object(value);
    return Fields(object, at, names, each);
  }

  od::object Object(od::value& value) {
    Expect(value, od::json_type::object);
    return Get(value.get_object(), At(value));
  }

  // Back to the first field of an object read in part.
  void Rewind(od::object& object, const char* at) { Get(object.reset(), at); }

  // Record's walk over the fields of an object at `at`.
  template <std::size_t N, typename Each>
  std::uint64_t Fields(od::object& object, const char* at, const FieldNames<N>& names, Each&& each) {
    static_assert(N <= 64, "one bit per field");
    std::uint64_t present = 0;
    for (auto field_result : object) {
      od::field field = Get(std::move(field_result), at);
      const std::size_t index = FieldIndex(field, names, present);
      Scope scope(*this, {Step::kField, names[index], 0});
      each(index, field.value());
    }
    return present;
  }

  // The index in names of a field's key, marked in present; an unknown or
  // repeated field fails.
  template <std::size_t N>
  std::size_t FieldIndex(od::field& field, const FieldNames<N>& names, std::uint64_t& present) {
    const char* key_at = field.key().raw() - 1;
    const std::string_view key = Key(field, key_at);
    std::size_t index = 0;
    while (index < N && names[index] != key) ++index;
    if (index == N) Fail(key_at, UnknownField(key, names));
    if (present & (std::uint64_t{1} << index)) Fail(key_at, "field '" + std::string(key) + "' is given twice");
    present |= std::uint64_t{1} << index;
    return index;
  }

  static bool KeyEscaped(od::field& field) {
    for (const char* p = field.key().raw(); *p != '"'; ++p) {
      if (*p == '\\') return true;
    }
    return false;
  }

  // Whether an array has `size` elements, each accepted by same(index,
  // element). Stops at the first that is not, leaving the rest unread.
  template <typename Same>
  bool ArrayIs(od::value value, std::size_t size, Same&& same) {
    const char* at = At(value);
    Expect(value, od::json_type::array);
    od::array array = Get(value.get_array(), at);
    std::size_t index = 0;
    for (auto element : array) {
      od::value item = Get(std::move(element), at);
      if (index == size) return false;
      Scope scope(*this, {Step::kIndex, {}, index});
      if (!same(index++, item)) return false;
    }
    return index == size;
  }

  template <std::size_t N>
  void Require(std::uint64_t present, std::size_t index, const FieldNames<N>& names, const char* at) {
    if (!(present & (std::uint64_t{1} << index))) Fail(at, "missing field '" + std::string(names[index]) + "'");
  }

  template <std::size_t N>
  static std::string UnknownField(std::string_view key, const FieldNames<N>& names) {
    std::string problem = "unknown field '" + std::string(key) + "'";
    std::string_view best;
    std::size_t best_distance = 3;
    for (const auto& name : names) {
      const std::size_t distance = Distance(key, name);
      if (distance < best_distance) best = name, best_distance = distance;
    }
    if (!best.empty()) problem += " (did you mean '" + std::string(best) + "'?)";
    return problem;
  }

  std::vector<std::string> Strings(od::value value) {
    std::vector<std::string> strings;
    Array(value, [&](od::value item) { strings.push_back(String(item)); });
    return strings;
  }

  std::set<std::string> StringSet(od::value value) {
    std::set<std::string> strings;
    Array(value, [&](od::value item) { strings.insert(strings.end(), String(item)); });
    return strings;
  }

  MessageArgs Arguments(od::value value) {
    MessageArgs args;
    // Allocated once, at its size: a million records hold a list each.
    ArrayCounted(
        value, [&](std::size_t n) { args.reserve(n); }, [&](od::value item) { args.push_back(Argument(item)); });
    return args;
  }

  // Whether a string, or a list of strings or of message arguments, reads
  // as the one given, compared without building it. No for a string with
  // escapes, which is left unread: a caller that reads it after all must
  // not have it unescaped twice.
  bool StringIs(od::value value, std::string_view expected) {
    std::string_view raw;
    return RawString(value, raw) && raw == expected;
  }

  bool StringsAre(od::value value, const std::vector<std::string>& expected) {
    return ArrayIs(value, expected.size(), [&](std::size_t i, od::value item) { return StringIs(item, expected[i]); });
  }

  bool ArgumentsAre(od::value value, const MessageArgs& expected) {
    return ArrayIs(value, expected.size(), [&](std::size_t i, od::value item) {
      if (ArgumentType(item) == od::json_type::string) {
        return expected[i].kind() == KVAL_2_18::types::variant::Kind::kText && StringIs(item, expected[i].to_string());
      }
      return SameArgument(NumberArgument(item), expected[i]);
    });
  }

  // Arguments are the same when they print the same: 0.0 and -0.0 differ.
  static bool SameArgument(const KVAL_2_18::types::variant& a, const KVAL_2_18::types::variant& b) {
    return a == b && (a.kind() != KVAL_2_18::types::variant::Kind::kReal || a.to_string() == b.to_string());
  }

  Reference Name(od::value value) {
    const char* at = At(value);
    return {String(value), at, Path()};
  }

 private:
  std::string file_;
  // The whole text: the one being read, or read again once parts of it
  // were released.
  std::string_view Whole() const {
    if (released_end_ == 0) return text_;
    if (!reread_) reread_ = std::make_unique<simdjson::padded_string>(Load(file_));
    return *reread_;
  }

  std::string_view text_;
  std::uintptr_t released_end_ = 0;  // the text before this address is released
  mutable std::unique_ptr<simdjson::padded_string> reread_;
  std::vector<Step> path_;
};

// Builds the Config of one run file.
class RunFileParser {
 public:
  RunFileParser(Reader& reader, std::filesystem::path base) : r_(reader), base_(std::move(base)) {}

  void Top(od::value value) {
    static constexpr FieldNames<29> kFields = {"command_line",
                                               "passed",
                                               "fail_level",
                                               "output_file",
                                               "install_dir",
                                               "include_nodes",
                                               "databases",
                                               "nodes",
                                               "tested_names",
                                               "nodefile",
                                               "node_groups_file",
                                               "node_groups",
                                               "extensions",
                                               "fwds",
                                               "roots",
                                               "diagnosis_ids",
                                               "observation_ids",
                                               "category_map",
                                               "message_tables",
                                               "report_messages",
                                               "sorting",
                                               "extra_text_setting",
                                               "provider_optionsets",
                                               "diagnoses",
                                               "observations",
                                               "third",
                                               "issues",
                                               "timestamp",
                                               "metrics_file"};
    Config& c = *config_;
    r_.Record(value, kFields, [&](std::size_t field, od::value v) {
      switch (field) {
        case 0: c.command_line = r_.String(v); break;
        case 1:
          c.passed = r_.Bool(v);
          states_verdict_ = true;
          break;
        case 2: c.fail_level = static_cast<std::int32_t>(r_.Integer(v, -1, 100)); break;
        case 3: c.output_file = r_.String(v); break;
        case 4: c.install_dir = Resolve(r_.String(v)); break;
        case 5: c.include_nodes = r_.Strings(v); break;
        case 6: c.databases = r_.Strings(v); break;
        case 7: Nodes(v); break;
        case 8:
          c.tested_names = r_.StringSet(v);
          tested_names_given_ = true;
          break;
        case 9: c.nodefile = r_.String(v); break;
        case 10: c.node_groups_file = r_.String(v); break;
        case 11: r_.Array(v, [&](od::value item) { NodeGroup(item); }); break;
        case 12: c.extension_specs = Extensions(v); break;
        case 13: r_.Array(v, [&](od::value item) { Definition(item); }); break;
        case 14:
          r_.Array(v, [&](od::value item) { roots_.push_back(r_.Name(item)); });
          roots_given_ = true;
          break;
        case 15: c.diagnosis_ids = IdLists(v); break;
        case 16: c.observation_ids = IdLists(v); break;
        case 17:
          r_.Map(v, [&](std::string_view key, const char*, od::value item) {
            c.category_map.emplace(key, r_.String(item));
          });
          break;
        case 18: MessageTables(v); break;
        case 19: ReportMessages(v); break;
        case 20: r_.Array(v, [&](od::value item) { SortCriterion(item); }); break;
        case 21: c.extra_text_setting = r_.String(v); break;
        case 22: r_.Array(v, [&](od::value item) { ProviderOptionset(item); }); break;
        case 23:
        case 24:
        case 25:
        case 26: Issues(v, c.issue_lists[field - 23]); break;
        case 27:
          r_.Fail(Reader::At(v), "the time stamp is not part of a run file; use --timestamp or SOURCE_DATE_EPOCH");
          break;
        case 28: metrics_file_ = r_.String(v); break;
      }
    });
    Link();
  }

  std::shared_ptr<Config> config() const { return config_; }
  bool names_extensions() const { return names_extensions_; }
  bool states_verdict() const { return states_verdict_; }
  const std::string& metrics_file() const { return metrics_file_; }

 private:
  std::string Resolve(const std::string& directory) const {
    if (directory.empty() || std::filesystem::path(directory).is_absolute()) return directory;
    std::string resolved = (base_ / directory).lexically_normal().string();
    // Catalogue directories are joined to file names without a separator.
    if (directory.back() == '/' && resolved.back() != '/') resolved += '/';
    return resolved;
  }

  void Nodes(od::value value) {
    static constexpr FieldNames<2> kFields = {"name", "group"};
    auto& nodes = config_->nodes;
    r_.ArrayCounted(
        value, [&](std::size_t n) { nodes.reserve(n); },
        [&](od::value item) {
          const char* at = Reader::At(item);
          Node node;
          const char* name_at = nullptr;
          const auto present = r_.Record(item, kFields, [&](std::size_t field, od::value v) {
            if (field == 0) {
              name_at = Reader::At(v);
              node.name = r_.String(v);
            } else {
              node.group = r_.String(v);
            }
          });
          r_.Require(present, 0, kFields, at);
          // Hinted at the end: node lists are mostly in name order.
          const std::size_t known = node_names_.size();
          node_names_.insert(node_names_.end(), node.name);
          if (node_names_.size() == known) {
            r_.Fail(name_at, r_.Path() + ".name", "node '" + node.name + "' is listed twice");
          }
          nodes.push_back(std::move(node));
        });
  }

  void NodeGroup(od::value value) {
    static constexpr FieldNames<7> kFields = {"name",      "automatic", "excluded_groups", "test_exclusions", "nodes",
                                              "root_fwds", "valid"};
    const char* at = Reader::At(value);
    auto group = std::make_shared<ClusterDefinition>();
    GroupRefs refs;
    const auto present = r_.Record(value, kFields, [&](std::size_t field, od::value v) {
      switch (field) {
        case 0:
          refs.name = r_.Name(v);
          group->name = refs.name.name;
          break;
        case 1: group->automatic = r_.Bool(v); break;
        case 2: r_.Array(v, [&](od::value item) { refs.excluded.push_back(r_.Name(item)); }); break;
        case 3:
          r_.Map(v, [&](std::string_view test, const char* key_at, od::value item) {
            refs.excluded_tests.push_back({std::string(test), key_at, r_.Path()});
            group->test_exclusions[std::string(test)] = r_.StringSet(item);
          });
          break;
        case 4: group->node_names = r_.StringSet(v); break;
        case 5: r_.Array(v, [&](od::value item) { refs.tests.push_back(r_.Name(item)); }); break;
        case 6: group->valid = r_.Bool(v); break;
      }
    });
    r_.Require(present, 0, kFields, at);
    if (!config_->node_groups.emplace(group->name, group).second) {
      r_.Fail(refs.name.at, refs.name.path, "node group '" + group->name + "' is defined twice");
    }
    for (const auto& excluded : refs.excluded) group->excluded_groups.insert(excluded.name);
    for (const auto& test : refs.tests) group->root_fwd_names.insert(test.name);
    group_refs_.push_back(std::move(refs));
  }

  // An array of {"directory", <list>}: extension names or catalogue files
  // (member) and the directory they lie in.
  template <typename Group>
  std::vector<Group> DirectoryGroups(od::value value, std::string_view list, std::vector<std::string> Group::*member) {
    const FieldNames<2> fields = {"directory", list};
    std::vector<Group> groups;
    r_.Array(value, [&](od::value item) {
      Group group;
      const char* at = Reader::At(item);
      const auto present = r_.Record(item, fields, [&](std::size_t field, od::value v) {
        if (field == 0) {
          group.directory = Resolve(r_.String(v));
        } else {
          group.*member = r_.Strings(v);
        }
      });
      r_.Require(present, 1, fields, at);
      groups.push_back(std::move(group));
    });
    return groups;
  }

  std::vector<ExtensionSpec> Extensions(od::value value) {
    auto specs = DirectoryGroups(value, "names", &ExtensionSpec::names);
    for (const auto& spec : specs) names_extensions_ |= !spec.names.empty();
    return specs;
  }

  void Definition(od::value value) {
    static constexpr FieldNames<9> kFields = {"name",       "path", "signs",   "extensions", "catalogs",
                                              "validation", "pass", "skipped", "depends_on"};
    const char* at = Reader::At(value);
    auto fwd = std::make_shared<Fwd>();
    Reference name;
    std::vector<std::vector<Reference>> depends_on;
    const auto present = r_.Record(value, kFields, [&](std::size_t field, od::value v) {
      switch (field) {
        case 0:
          name = r_.Name(v);
          fwd->name = name.name;
          break;
        case 1: fwd->path = r_.String(v); break;
        case 2: fwd->signs = r_.StringSet(v); break;
        case 3: fwd->extension_specs = Extensions(v); break;
        case 4: fwd->catalog_files = DirectoryGroups(v, "files", &FileGroup::files); break;
        case 5: fwd->validation = r_.String(v); break;
        case 6: fwd->pass = r_.Bool(v); break;
        case 7: fwd->skipped = r_.Bool(v); break;
        case 8:
          r_.Array(v, [&](od::value group) {
            depends_on.emplace_back();
            r_.Array(group, [&](od::value item) { depends_on.back().push_back(r_.Name(item)); });
          });
          break;
      }
    });
    r_.Require(present, 0, kFields, at);
    auto& attributes = *config_->fwd_attributes;
    if (!attributes.fwds.emplace(fwd->name, fwd).second) {
      r_.Fail(name.at, name.path, "Framework Definition '" + fwd->name + "' is defined twice");
    }
    fwd->node = std::make_shared<FwdNode>();
    fwd->node->fwd = fwd;
    attributes.names.push_back(fwd->name);
    dependencies_.push_back(std::move(depends_on));
  }

  std::map<std::string, std::vector<std::string>> IdLists(od::value value) {
    std::map<std::string, std::vector<std::string>> lists;
    r_.Map(value, [&](std::string_view key, const char*, od::value item) {
      lists.emplace_hint(lists.end(), key, r_.Strings(item));
    });
    return lists;
  }

  void MessageTables(od::value value) {
    static constexpr FieldNames<2> kFields = {"header", "cell"};
    r_.Map(value, [&](std::string_view id, const char*, od::value columns) {
      auto& table = config_->message_tables[std::string(id)];
      r_.Array(columns, [&](od::value column) {
        std::pair<std::string, std::string> cell;
        const char* at = Reader::At(column);
        const auto present = r_.Record(column, kFields, [&](std::size_t field, od::value v) {
          (field == 0 ? cell.first : cell.second) = r_.String(v);
        });
        r_.Require(present, 0, kFields, at);
        r_.Require(present, 1, kFields, at);
        table.push_back(std::move(cell));
      });
    });
  }

  void ReportMessages(od::value value) {
    static constexpr FieldNames<3> kFields = {"id", "args", "nodes"};
    r_.Map(value, [&](std::string_view key, const char*, od::value messages) {
      auto& list = config_->report_messages[std::string(key)];
      r_.Array(messages, [&](od::value item) {
        templates::Reports_msg message;
        const char* at = Reader::At(item);
        const auto present = r_.Record(item, kFields, [&](std::size_t field, od::value v) {
          if (field == 0) message.id = r_.String(v);
          if (field == 1) message.args = r_.Arguments(v);
          if (field == 2) message.nodes = r_.StringSet(v);
        });
        r_.Require(present, 0, kFields, at);
        list.push_back(std::move(message));
      });
    });
  }

  void SortCriterion(od::value value) {
    static constexpr FieldNames<2> kFields = {"field", "ascending"};
    static constexpr FieldNames<4> kSortFields = {"sort_value", "id", "node", "severity"};
    const char* at = Reader::At(value);
    Sorting criterion(true, Sorting::SEVERITY);
    const auto present = r_.Record(value, kFields, [&](std::size_t field, od::value v) {
      if (field == 1) {
        criterion.ascending = r_.Bool(v);
        return;
      }
      const char* field_at = Reader::At(v);
      const std::string name = r_.String(v);
      std::size_t index = 0;
      while (index < kSortFields.size() && kSortFields[index] != name) ++index;
      if (index == kSortFields.size()) {
        r_.Fail(field_at, "unknown sort field '" + name + "' (expected sort_value, id, node or severity)");
      }
      criterion.field = static_cast<Sorting::FIELD>(index);
    });
    r_.Require(present, 0, kFields, at);
    config_->sorting_criteria.push_back(criterion);
  }

  void ProviderOptionset(od::value value) {
    std::map<std::string, std::vector<qorv::ProviderOptionset>> sets;
    r_.Map(value, [&](std::string_view name, const char*, od::value list) {
      auto& entries = sets[std::string(name)];
      r_.Array(list, [&](od::value item) {
        qorv::ProviderOptionset options;
        r_.Map(item,
               [&](std::string_view key, const char*, od::value v) { options.options.emplace(key, r_.String(v)); });
        entries.push_back(std::move(options));
      });
    });
    config_->provider_optionsets.push_back(std::move(sets));
  }

  void Issues(od::value value, IssueList& issues) {
    const bool repeats_typed = &issues == &config_->issue_lists[Config::ISSUES];
    r_.ArrayCounted(
        value, [&](std::size_t n) { issues.reserve(issues.size() + n); },
        [&](od::value item) {
          const char* at = Reader::At(item);
          r_.Release(at);
          od::object object = r_.Object(item);
          if (repeats_typed) {
            // Most records repeat the next typed one: compared first without
            // building them, and read in full only when they differ.
            if (const auto* candidate = NextTyped()) {
              if (Repeats(object, at, **candidate)) {
                issues.push_back(*candidate);
                ++shared_next_;
                return;
              }
              r_.Rewind(object, at);
            }
          }
          auto record = std::make_shared<analysis::AnalysisOutput>();
          Issue(object, at, *record);
          if (repeats_typed) {
            if (auto same = NextOfTypedLists(*record)) record = std::move(same);
          }
          issues.push_back(std::move(record));
        });
  }

  static constexpr FieldNames<11> kIssueFields = {"id",           "severity",       "nodes",      "args",
                                                  "secondary_id", "secondary_args", "remedy_id",  "remedy_args",
                                                  "sort_value",   "suppressed",     "subcategory"};
  static constexpr auto kInt32Min = std::numeric_limits<std::int32_t>::min();
  static constexpr auto kInt32Max = std::numeric_limits<std::int32_t>::max();

  void Issue(od::object& object, const char* at, analysis::AnalysisOutput& i) {
    const auto present = r_.Fields(object, at, kIssueFields, [&](std::size_t field, od::value v) {
      switch (field) {
        case 0: {
          const char* id_at = Reader::At(v);
          i.id = r_.String(v);
          if (i.id.empty()) r_.Fail(id_at, "the message id is empty");
          break;
        }
        case 1: i.severity = static_cast<std::int32_t>(r_.Integer(v, 0, 100)); break;
        case 2: i.nodes = r_.Strings(v); break;
        case 3: i.message_args = r_.Arguments(v); break;
        case 4: i.secondary_id = r_.String(v); break;
        case 5: i.secondary_args = r_.Arguments(v); break;
        case 6: i.remedy_id = r_.String(v); break;
        case 7: i.remedy_args = r_.Arguments(v); break;
        case 8: i.sort_value = static_cast<std::int32_t>(r_.Integer(v, kInt32Min, kInt32Max)); break;
        case 9: i.suppressed = r_.Bool(v); break;
        case 10: i.subcategory = r_.String(v); break;
      }
    });
    r_.Require(present, 0, kIssueFields, at);
  }

  // Whether the record at object reads as `record` (SameRecord), found
  // without building it. No on any doubt (a key with escapes, a missing id):
  // the caller then rewinds and reads the record in full, and that reports
  // what is wrong. A value that is wrong fails here as it would there, since
  // the fields before it were read alike.
  bool Repeats(od::object& object, const char* at, const analysis::AnalysisOutput& record) {
    std::uint64_t present = 0;
    for (auto field_result : object) {
      od::field field = r_.Get(std::move(field_result), at);
      if (Reader::KeyEscaped(field)) return false;
      const std::size_t index = r_.FieldIndex(field, kIssueFields, present);
      Reader::Scope scope(r_, {Reader::Step::kField, kIssueFields[index], 0});
      od::value v = field.value();
      bool same = false;
      switch (index) {
        case 0: same = r_.StringIs(v, record.id); break;
        case 1: same = r_.Integer(v, 0, 100) == record.severity; break;
        case 2: same = r_.StringsAre(v, record.nodes); break;
        case 3: same = r_.ArgumentsAre(v, record.message_args); break;
        case 4: same = r_.StringIs(v, record.secondary_id); break;
        case 5: same = r_.ArgumentsAre(v, record.secondary_args); break;
        case 6: same = r_.StringIs(v, record.remedy_id); break;
        case 7: same = r_.ArgumentsAre(v, record.remedy_args); break;
        case 8: same = r_.Integer(v, kInt32Min, kInt32Max) == record.sort_value; break;
        case 9: same = r_.Bool(v) == record.suppressed; break;
        case 10: same = r_.StringIs(v, record.subcategory); break;
      }
      if (!same) return false;
    }
    // The fields left out hold their defaults in a record read in full; so
    // do those a run file does not give.
    const auto absent = [&](std::size_t index) { return !(present & (std::uint64_t{1} << index)); };
    return !absent(0) && (!absent(1) || record.severity == 0) && (!absent(2) || record.nodes.empty()) &&
           (!absent(3) || record.message_args.empty()) && (!absent(4) || record.secondary_id.empty()) &&
           (!absent(5) || record.secondary_args.empty()) && (!absent(6) || record.remedy_id.empty()) &&
           (!absent(7) || record.remedy_args.empty()) && (!absent(8) || record.sort_value == 0) &&
           (!absent(9) || !record.suppressed) && (!absent(10) || record.subcategory.empty()) &&
           record.category.empty() && record.message.empty() && record.secondary_message.empty() &&
           record.remedy.empty();
  }

  // The category report's list usually repeats the records of the typed
  // lists (diagnoses, observations, third) in their order. Such a record is
  // taken as the same record, as the host hands it over, rather than held
  // twice.

  // The next record of the typed lists not taken yet, or null.
  const std::shared_ptr<analysis::AnalysisOutput>* NextTyped() {
    auto& lists = config_->issue_lists;
    while (shared_list_ < Config::ISSUES && shared_next_ >= lists[shared_list_].size()) {
      ++shared_list_;
      shared_next_ = 0;
    }
    if (shared_list_ >= Config::ISSUES) return nullptr;
    return &lists[shared_list_][shared_next_];
  }

  // That record, taken, when it is equal to `record` in every field; else null.
  std::shared_ptr<analysis::AnalysisOutput> NextOfTypedLists(const analysis::AnalysisOutput& record) {
    const auto* candidate = NextTyped();
    if (!candidate || !SameRecord(**candidate, record)) return nullptr;
    ++shared_next_;
    return *candidate;
  }

  static bool SameArguments(const MessageArgs& a, const MessageArgs& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), Reader::SameArgument);
  }

  static bool SameRecord(const analysis::AnalysisOutput& a, const analysis::AnalysisOutput& b) {
    return a.sort_value == b.sort_value && a.severity == b.severity && a.suppressed == b.suppressed && a.id == b.id &&
           a.nodes == b.nodes && a.subcategory == b.subcategory && a.secondary_id == b.secondary_id &&
           a.remedy_id == b.remedy_id && a.category == b.category && a.message == b.message &&
           a.secondary_message == b.secondary_message && a.remedy == b.remedy &&
           SameArguments(a.message_args, b.message_args) && SameArguments(a.secondary_args, b.secondary_args) &&
           SameArguments(a.remedy_args, b.remedy_args);
  }

  // Resolves the names that refer to definitions and groups, builds the
  // dependency trees and picks their roots.
  void Link() {
    Config& c = *config_;
    if (!tested_names_given_) c.tested_names = std::move(node_names_);
    auto& attributes = *c.fwd_attributes;

    std::unordered_set<std::string> depended_on;
    for (std::size_t d = 0; d < attributes.names.size(); ++d) {
      auto& node = *attributes.fwds.at(attributes.names[d])->node;
      for (const auto& group : dependencies_[d]) {
        node.dependencies.emplace_back();
        for (const auto& reference : group) {
          node.dependencies.back().push_back(Find(reference, "Framework Definition")->node);
          depended_on.insert(reference.name);
        }
      }
    }
    CheckCycles();

    if (roots_given_) {
      std::unordered_set<std::string> listed;
      for (const auto& reference : roots_) {
        const auto& node = Find(reference, "Framework Definition")->node;
        if (!listed.insert(reference.name).second)
          r_.Fail(reference.at, reference.path, "'" + reference.name + "' is listed twice");
        attributes.roots.push_back(node);
      }
    } else {
      for (const auto& name : attributes.names) {
        if (!depended_on.count(name)) attributes.roots.push_back(attributes.fwds.at(name)->node);
      }
    }

    for (const auto& refs : group_refs_) {
      for (const auto& excluded : refs.excluded) {
        if (!c.node_groups.count(excluded.name))
          r_.Fail(excluded.at, excluded.path, "no node group '" + excluded.name + "'");
      }
      for (const auto& test : refs.tests) Find(test, "Framework Definition");
      for (const auto& test : refs.excluded_tests) {
        const bool listed =
            std::any_of(refs.tests.begin(), refs.tests.end(), [&](const Reference& t) { return t.name == test.name; });
        if (!listed) r_.Fail(test.at, test.path, "'" + test.name + "' is not among the group's root_fwds");
      }
    }

    // A run without node groups has its nodes in the default group, as the
    // host defines it; the category report then files issues by the nodes'
    // own groups.
    if (c.node_groups.empty()) {
      auto group = std::make_shared<ClusterDefinition>();
      group->name = "default-subcluster";
      for (const auto& node : c.nodes) group->node_names.insert(node.name);
      for (const auto& root : attributes.roots) group->root_fwd_names.insert(root->fwd->name);
      c.node_groups.emplace(group->name, group);
    }
  }

  const std::shared_ptr<Fwd>& Find(const Reference& reference, const char* what) {
    const auto& fwds = config_->fwd_attributes->fwds;
    const auto found = fwds.find(reference.name);
    if (found == fwds.end())
      r_.Fail(reference.at, reference.path, std::string("no ") + what + " '" + reference.name + "'");
    return found->second;
  }

  // Definitions depend on each other without a cycle: the reports walk the
  // dependencies to their leaves. One depth-first walk over all of them, in
  // file order, with its own stack, so that a chain of any length is checked
  // in linear time and stack space.
  void CheckCycles() {
    const auto& names = config_->fwd_attributes->names;
    std::unordered_map<std::string_view, std::size_t> index;
    for (std::size_t d = 0; d < names.size(); ++d) index.emplace(names[d], d);
    enum class State : unsigned char { kNew, kOnPath, kDone };
    std::vector<State> state(names.size(), State::kNew);
    struct Frame {
      std::size_t definition, group, item;  // the next dependency to visit
    };
    std::vector<Frame> path;
    for (std::size_t start = 0; start < names.size(); ++start) {
      if (state[start] != State::kNew) continue;
      state[start] = State::kOnPath;
      path.push_back({start, 0, 0});
      while (!path.empty()) {
        Frame& frame = path.back();
        const auto& groups = dependencies_[frame.definition];
        if (frame.group == groups.size()) {
          state[frame.definition] = State::kDone;
          path.pop_back();
        } else if (frame.item == groups[frame.group].size()) {
          ++frame.group;
          frame.item = 0;
        } else {
          const Reference& reference = groups[frame.group][frame.item++];
          const std::size_t next = index.at(reference.name);
          if (state[next] == State::kOnPath) {
            // A long cycle is named by its first members and its length, on
            // one line of bounded length.
            constexpr std::size_t kNamed = 5;
            auto it = std::find_if(path.begin(), path.end(), [&](const Frame& f) { return f.definition == next; });
            const auto members = static_cast<std::size_t>(path.end() - it);
            std::string problem = "the Framework Definitions depend on each other in a cycle";
            if (members > kNamed) problem += " of " + std::to_string(members) + " definitions";
            problem += ": ";
            for (std::size_t k = 0; k < kNamed && it != path.end(); ++k, ++it) {
              problem += names[it->definition] + " -> ";
            }
            if (members > kNamed) problem += "... -> ";
            r_.Fail(reference.at, reference.path, problem + reference.name);
          }
          if (state[next] == State::kNew) {
            state[next] = State::kOnPath;
            path.push_back({next, 0, 0});
          }
        }
      }
    }
  }

  struct GroupRefs {
    Reference name;
    std::vector<Reference> excluded;
    std::vector<Reference> tests;
    std::vector<Reference> excluded_tests;
  };

  Reader& r_;
  std::filesystem::path base_;
  std::shared_ptr<Config> config_ = std::make_shared<Config>();
  bool names_extensions_ = false;
  bool states_verdict_ = false;
  std::string metrics_file_;
  bool tested_names_given_ = false;
  bool roots_given_ = false;
  std::set<std::string> node_names_;
  std::vector<Reference> roots_;
  std::vector<std::vector<std::vector<Reference>>> dependencies_;  // per definition, in file order
  std::vector<GroupRefs> group_refs_;
  std::size_t shared_list_ = 0;  // the next typed record to share: its list
  std::size_t shared_next_ = 0;  // and its position there
};

// The whole file, padded for the parser.
simdjson::padded_string Load(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw RunFileError(Printable(path) + ": cannot open the run file: " + std::strerror(errno));
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    const int error = S_ISDIR(info.st_mode) ? EISDIR : errno;
    ::close(fd);
    throw RunFileError(Printable(path) + ": cannot read the run file: " +
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
      throw RunFileError(Printable(path) + ": cannot read the run file: " +
                         (error ? std::strerror(error) : std::string("the file shrank while being read")));
    }
    done += static_cast<std::size_t>(got);
  }
  ::close(fd);
  return text;
}

}  // namespace

RunFile ReadRunFile(const std::string& path) {
  const simdjson::padded_string text = Load(path);
  Reader reader(path, text);
  if (!simdjson::validate_utf8(text.data(), text.size())) reader.FailSyntax(simdjson::UTF8_ERROR, nullptr);

  od::parser parser;
  od::document document;
  if (const auto error = parser.iterate(text).get(document)) {
    if (error == simdjson::MEMALLOC) throw std::bad_alloc();
    reader.FailSyntax(error, nullptr);
  }
  od::value top;
  if (const auto error = document.get_value().get(top)) reader.FailSyntax(error, text.data());
  if (reader.TypeOf(top) != od::json_type::object) reader.Fail(text.data(), "a run file holds one JSON object");

  RunFileParser parser_of_run(reader, std::filesystem::path(path).parent_path());
  parser_of_run.Top(top);
  const char* end = nullptr;
  if (!document.current_location().get(end)) reader.FailSyntax(simdjson::TRAILING_CONTENT, end);
  return {parser_of_run.config(), parser_of_run.names_extensions(), parser_of_run.states_verdict(),
          parser_of_run.metrics_file()};
}

}  // namespace qorv::tools
