// JsonWriter: writes one JSON document as a stream of text chunks.
//
// The document is never held whole: values go into a buffer that is handed
// to the sink whenever it passes the chunk size, so memory stays flat for
// runs of any size. Containers are laid out over several lines with
// two-space indentation, or on one line when begun with Layout::kLine (and
// then everything inside them is on that line too). Strings are escaped so
// that the output is always valid JSON in valid UTF-8, whatever bytes they
// hold. The caller keeps the nesting balanced; the writer does not check
// it. Single-threaded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qorv::json_report {

// Appends text as a JSON string literal, quotes included: '"' and '\\' are
// escaped, control characters become \b \f \n \r \t or \u00XX, valid UTF-8
// is copied, and each maximal ill-formed byte sequence becomes one U+FFFD.
void AppendJsonString(std::string& out, std::string_view text);

class JsonWriter {
 public:
  enum class Layout { kIndented, kLine };

  // Receives each chunk in order; returns false when it could not write it.
  using Sink = std::function<bool(const std::string& chunk)>;

  JsonWriter(Sink sink, std::size_t chunk_size);

  void BeginObject(Layout layout = Layout::kIndented);
  void EndObject();
  void BeginArray(Layout layout = Layout::kIndented);
  void EndArray();

  // The name of the next member of the current object.
  void Key(std::string_view name);

  void String(std::string_view text);
  void Int(std::int64_t value);
  void Bool(bool value);
  void Null();

  // Ends the document with a newline and hands out what is buffered.
  // Returns false when the sink failed at any point (later chunks are then
  // dropped).
  bool Finish();

 private:
  struct Frame {
    bool line;
    bool empty;
  };

  // Separator and line break before a value or a key.
  void BeforeItem();
  void Open(char bracket, Layout layout);
  void Close(char bracket);
  void MaybeEmit();
  void Emit();

  Sink sink_;
  std::size_t chunk_size_;
  std::string buffer_;
  std::vector<Frame> frames_;
  bool after_key_ = false;
  bool ok_ = true;
};

}  // namespace qorv::json_report
