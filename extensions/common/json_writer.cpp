#include "extensions/common/json_writer.h"

#include <utility>

#include "extensions/common/utf8.h"

namespace qorv::json_report {

namespace {

constexpr char kHex[] = "0123456789abcdef";

}  // namespace

void AppendJsonString(std::string& out, std::string_view text) {
  out.reserve(out.size() + text.size() + 2);
  out.push_back('"');
  std::size_t i = 0;
  while (i < text.size()) {
    // Copy the longest run that needs no escaping in one go.
    std::size_t run = i;
    while (run < text.size()) {
      const auto c = static_cast<unsigned char>(text[run]);
      if (c < 0x20 || c == '"' || c == '\\' || c >= 0x80) break;
      ++run;
    }
    out.append(text.data() + i, run - i);
    i = run;
    if (i == text.size()) break;

    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      i += extensions::AppendUtf8Sequence(out, text, i);
      continue;
    }
    switch (c) {
      case '"': out.append("\\\""); break;
      case '\\': out.append("\\\\"); break;
      case '\b': out.append("\\b"); break;
      case '\f': out.append("\\f"); break;
      case '\n': out.append("\\n"); break;
      case '\r': out.append("\\r"); break;
      case '\t': out.append("\\t"); break;
      default:
        out.append("\\u00");
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 0xF]);
    }
    ++i;
  }
  out.push_back('"');
}

JsonWriter::JsonWriter(Sink sink, std::size_t chunk_size) : sink_(std::move(sink)), chunk_size_(chunk_size) {
  buffer_.reserve(chunk_size_ + chunk_size_ / 2);
}

void JsonWriter::BeforeItem() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (frames_.empty()) return;
  Frame& frame = frames_.back();
  if (!frame.empty) buffer_.push_back(',');
  if (frame.line) {
    if (!frame.empty) buffer_.push_back(' ');
  } else {
    buffer_.push_back('\n');
    buffer_.append(2 * frames_.size(), ' ');
  }
  frame.empty = false;
}

void JsonWriter::Open(char bracket, Layout layout) {
  BeforeItem();
  buffer_.push_back(bracket);
  const bool line = layout == Layout::kLine || (!frames_.empty() && frames_.back().line);
  frames_.push_back({line, true});
}

void JsonWriter::Close(char bracket) {
  const Frame frame = frames_.back();
  frames_.pop_back();
  if (!frame.empty && !frame.line) {
    buffer_.push_back('\n');
    buffer_.append(2 * frames_.size(), ' ');
  }
  buffer_.push_back(bracket);
  MaybeEmit();
}

void JsonWriter::BeginObject(Layout layout) { Open('{', layout); }
void JsonWriter::EndObject() { Close('}'); }
void JsonWriter::BeginArray(Layout layout) { Open('[', layout); }
void JsonWriter::EndArray() { Close(']'); }

void JsonWriter::Key(std::string_view name) {
  BeforeItem();
  AppendJsonString(buffer_, name);
  buffer_.append(": ");
  after_key_ = true;
}

void JsonWriter::String(std::string_view text) {
  BeforeItem();
  AppendJsonString(buffer_, text);
  MaybeEmit();
}

void JsonWriter::Int(std::int64_t value) {
  BeforeItem();
  buffer_.append(std::to_string(value));
}

void JsonWriter::Bool(bool value) {
  BeforeItem();
  buffer_.append(value ? "true" : "false");
}

void JsonWriter::Null() {
  BeforeItem();
  buffer_.append("null");
}

bool JsonWriter::Finish() {
  buffer_.push_back('\n');
  Emit();
  return ok_;
}

void JsonWriter::MaybeEmit() {
  if (buffer_.size() >= chunk_size_) Emit();
}

void JsonWriter::Emit() {
  if (ok_ && !buffer_.empty()) ok_ = sink_(buffer_);
  buffer_.clear();
}

}  // namespace qorv::json_report
