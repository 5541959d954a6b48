// Prefetching for walks over records. Internal, not installed.
//
// The records of a large run lie scattered in memory, in the order they were
// read, while the walks visit them in sorted order: each visit waits for a
// cache miss on the record and more on what its fields point to. A walk
// that announces the records a few steps ahead lets those misses overlap.
// Only a hint: it changes no value and reads nothing but the records' own
// fields.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "postprocessor/host/analysis_output.h"

namespace qorv::postprocessor::detail {

// record_at(i) gives the i-th record of the walk (or null), for i below
// size.
template <typename RecordAt>
class PrefetchWalk {
 public:
  PrefetchWalk(std::size_t size, RecordAt record_at) : size_(size), record_at_(record_at) {}

  // Call once per step, before working on the i-th record.
  void At(std::size_t i) const {
    if (i + kRecordDistance < size_) Record(record_at_(i + kRecordDistance));
    if (i + kTextDistance < size_) Texts(record_at_(i + kTextDistance));
    // A prefetch has no effect the compiler can see, and GCC drops a call
    // that has none, prefetches and all; an empty volatile asm keeps it.
    asm volatile("");
  }

 private:
  // The record is fetched first; what its fields point to once the record
  // itself has had time to arrive.
  static constexpr std::size_t kRecordDistance = 16;
  static constexpr std::size_t kTextDistance = 8;

  static void Record(const analysis::AnalysisOutput* record) {
    if (record == nullptr) return;
    // From the reference count that make_shared puts before the record to
    // its message arguments: the fields the walks read, five cache lines.
    const char* begin = reinterpret_cast<const char*>(record) - 16;
    for (std::size_t offset = 0; offset < 5 * 64; offset += 64) __builtin_prefetch(begin + offset);
  }

  static void Texts(const analysis::AnalysisOutput* record) {
    if (record == nullptr) return;
    __builtin_prefetch(record->message.data());
    __builtin_prefetch(record->nodes.data());
  }

  std::size_t size_;
  RecordAt record_at_;
};

using Records = std::vector<std::shared_ptr<analysis::AnalysisOutput>>;

// The i-th record of a list.
struct InList {
  const Records* records;
  const analysis::AnalysisOutput* operator()(std::size_t i) const { return (*records)[i].get(); }
};

// A walk over a list of records in list order.
class RecordPrefetch : public PrefetchWalk<InList> {
 public:
  explicit RecordPrefetch(const Records& records) : PrefetchWalk(records.size(), InList{&records}) {}
};

}  // namespace qorv::postprocessor::detail
