// A strict reader of one JSON file whose every field the program knows, for
// input files such as the run file (tools/run_file.cpp holds its fields).
//
// The file is read as a stream of values in file order, through simdjson's
// On-Demand API, without a document tree of the whole file. The reader
// keeps the field path of the value at hand and promises:
//  - the first problem stops the read with JsonReadError, whose what() is
//    one line: the file, the 1-based line and column of the offending
//    value, the field path when there is one, and the problem, e.g.
//      run.json:14:19: diagnoses[3].severity: 1e300 is out of range (a whole number from 0 to 100)
//    with control characters written as JSON escapes, so that the text of
//    the file can neither break the line nor drive a terminal;
//  - a file that is also malformed (RFC 8259, UTF-8, nesting at most
//    max_depth) reports its first syntax error instead, wherever it lies;
//  - a value of another type than the one asked for, a number out of the
//    range asked for, a string with raw control characters, an unknown or
//    repeated field of a record (with the known field a typo meant) and a
//    key given twice in a map are problems;
//  - nothing is written anywhere. Memory runs out as std::bad_alloc.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_set>
#include <utility>
#include <vector>

#include <simdjson.h>

namespace qorv::tools {

// A file that cannot be read, is not well-formed JSON, or holds a value
// its reader refuses. what() is one line, as above.
class JsonReadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The fields a record may have, by index; at most 64.
template <std::size_t N>
using FieldNames = std::array<std::string_view, N>;

// simdjson's On-Demand API, whose values the reader hands out.
namespace od = simdjson::ondemand;

class JsonReader {
 public:
  // Loads the file at path. `kind` names it in the messages about the file
  // as a whole ("cannot open the run file: ..."); nesting deeper than
  // max_depth is a syntax error.
  JsonReader(std::string path, std::string kind, std::size_t max_depth);
  JsonReader(const JsonReader&) = delete;
  JsonReader& operator=(const JsonReader&) = delete;

  // The file's one top-level value, once the file is known to be UTF-8.
  od::value Top();
  // Where the text starts, for a problem with the file as a whole.
  const char* Begin() const { return text_.data(); }
  // After the top-level value is read: fails when anything but whitespace
  // follows it.
  void End();

  // --- failures ---------------------------------------------------------------

  // A problem with the value at `at` (a position in the text; null for none),
  // at the field path given or, by default, at the current one.
  [[noreturn]] void Fail(const char* at, const std::string& path, const std::string& problem) const;
  [[noreturn]] void Fail(const char* at, const std::string& problem) const { Fail(at, Path(), problem); }

  // The value of result, or a failure at `at`.
  template <typename T>
  T Get(simdjson::simdjson_result<T>&& result, const char* at) const {
    T got;
    if (const auto error = std::move(result).get(got)) FailSyntax(error, at);
    return got;
  }

  // Gives the memory of the text before `upto`, which the reading has left
  // behind for good, back to the system, a large step at a time. A failure
  // afterwards reads the file again for its messages.
  void Release(const char* upto);

  // --- the field path ---------------------------------------------------------

  // One step of the path: a record's field (".name"), a map's key
  // ("[\"key\"]") or an array's index ("[3]").
  struct Step {
    enum Kind { kField, kKey, kIndex } kind;
    std::string_view name;
    std::size_t index;
  };

  // The path of the value at hand, e.g. fwds[0].depends_on[1][0].
  std::string Path() const;

  // Adds a step to the path for its lifetime.
  class Scope {
   public:
    Scope(JsonReader& reader, Step step) : reader_(reader) { reader_.path_.push_back(step); }
    ~Scope() { reader_.path_.pop_back(); }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    JsonReader& reader_;
  };

  // --- values -----------------------------------------------------------------

  // Where a value starts in the text.
  static const char* At(od::value& v) { return v.raw_json_token().data(); }
  // "an array", "a number", ..., for messages.
  static const char* TypeName(od::json_type type);
  // The token as the file writes it, shortened for a message.
  static std::string Token(od::value& v);

  od::json_type TypeOf(od::value& v) { return Get(v.type(), At(v)); }
  // Fails unless v is of the type.
  void Expect(od::value& v, od::json_type type);

  std::string String(od::value v);
  // Whether a string reads as `expected`, found without unescaping it; no
  // for a string with escapes, which is left unread.
  bool StringIs(od::value v, std::string_view expected);
  // The same for a list of strings.
  bool StringsAre(od::value v, const std::vector<std::string>& expected);
  bool Bool(od::value v);
  // A whole number from low to high; a decimal number with nothing after
  // the point is one.
  std::int64_t Integer(od::value v, std::int64_t low, std::int64_t high);
  std::vector<std::string> Strings(od::value v);
  std::set<std::string> StringSet(od::value v);

  // --- containers -------------------------------------------------------------

  // Calls each(element) for every element of an array.
  template <typename Each>
  void Array(od::value v, Each&& each) {
    ArrayCounted(v, nullptr, each);
  }

  // The same, calling reserve(n) first with the number of elements (a quick
  // extra pass over the array) so that a long list is allocated once.
  template <typename Reserve, typename Each>
  void ArrayCounted(od::value v, Reserve&& reserve, Each&& each) {
    const char* at = At(v);
    Expect(v, od::json_type::array);
    od::array array = Get(v.get_array(), at);
    if constexpr (!std::is_null_pointer_v<std::decay_t<Reserve>>) reserve(Get(array.count_elements(), at));
    std::size_t index = 0;
    for (auto element : array) {
      od::value item = Get(std::move(element), at);
      Scope scope(*this, {Step::kIndex, {}, index++});
      each(item);
    }
  }

  // Whether an array has `size` elements, each accepted by same(index,
  // element). Stops at the first that is not, leaving the rest unread.
  template <typename Same>
  bool ArrayIs(od::value v, std::size_t size, Same&& same) {
    const char* at = At(v);
    Expect(v, od::json_type::array);
    od::array array = Get(v.get_array(), at);
    std::size_t index = 0;
    for (auto element : array) {
      od::value item = Get(std::move(element), at);
      if (index == size) return false;
      Scope scope(*this, {Step::kIndex, {}, index});
      if (!same(index++, item)) return false;
    }
    return index == size;
  }

  // Calls each(key, key_position, value) for every field of an object whose
  // keys are free (maps keyed by id or name); a key given twice fails.
  template <typename Each>
  void Map(od::value v, Each&& each) {
    const char* at = At(v);
    Expect(v, od::json_type::object);
    od::object fields = Get(v.get_object(), at);
    std::unordered_set<std::string_view> seen;
    for (auto field_result : fields) {
      od::field f = Get(std::move(field_result), at);
      const char* key_at = f.key().raw() - 1;
      const std::string_view key = Key(f, key_at);
      if (!seen.insert(key).second) Fail(key_at, "'" + std::string(key) + "' is given twice");
      Scope scope(*this, {Step::kKey, key, 0});
      each(key, key_at, f.value());
    }
  }

  // Calls each(index into names, value) for every field of a record with a
  // fixed set of fields; an unknown or repeated field is an error. Returns
  // the set of fields present, one bit per index.
  template <std::size_t N, typename Each>
  std::uint64_t Record(od::value v, const FieldNames<N>& names, Each&& each) {
    const char* at = At(v);
    od::object fields = Object(v);
    return Fields(fields, at, names, each);
  }

  od::object Object(od::value& v);
  // Back to the first field of an object read in part.
  void Rewind(od::object& o, const char* at) { Get(o.reset(), at); }

  // Record's walk over the fields of an object at `at`.
  template <std::size_t N, typename Each>
  std::uint64_t Fields(od::object& o, const char* at, const FieldNames<N>& names, Each&& each) {
    static_assert(N <= 64, "one bit per field");
    std::uint64_t present = 0;
    for (auto field_result : o) {
      od::field f = Get(std::move(field_result), at);
      const std::size_t index = FieldIndex(f, names, present);
      Scope scope(*this, {Step::kField, names[index], 0});
      each(index, f.value());
    }
    return present;
  }

  // The index in names of a field's key, marked in present; an unknown or
  // repeated field fails.
  template <std::size_t N>
  std::size_t FieldIndex(od::field& f, const FieldNames<N>& names, std::uint64_t& present) {
    return FieldIndex(f, names.data(), N, present);
  }

  // Fails with "missing field" at `at` unless field `index` is in present.
  template <std::size_t N>
  void Require(std::uint64_t present, std::size_t index, const FieldNames<N>& names, const char* at) const {
    if (!(present & (std::uint64_t{1} << index))) Fail(at, "missing field '" + std::string(names[index]) + "'");
  }

  // Whether a field's key has escapes.
  static bool KeyEscaped(od::field& f);

 private:
  // simdjson found the text malformed: the strict check says where and why;
  // when it finds the text well-formed the problem lies in a value at `at`.
  [[noreturn]] void FailSyntax(simdjson::error_code error, const char* at) const;
  [[noreturn]] void Report(const char* at, const std::string& path, const std::string& problem) const;

  std::size_t FieldIndex(od::field& f, const std::string_view* names, std::size_t count, std::uint64_t& present);
  bool RawString(od::value& v, std::string_view& text);
  std::string_view Key(od::field& f, const char* key_at);

  // The whole text: the one being read, or read again once parts of it
  // were released.
  std::string_view Whole() const;

  std::string file_;
  std::string kind_;
  std::size_t max_depth_;
  simdjson::padded_string text_;
  od::parser parser_;
  od::document document_;
  std::uintptr_t released_end_ = 0;  // the text before this address is released
  mutable std::unique_ptr<simdjson::padded_string> reread_;
  std::vector<Step> path_;
};

}  // namespace qorv::tools
