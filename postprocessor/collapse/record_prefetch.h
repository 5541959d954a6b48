// Prefetching for walks over records. Internal, not installed.
//
// The records of a large run lie scattered in memory, in the order they were
// read, while the walks visit them in sorted order: each visit waits for a
// cache miss on the record and more on what its fields point to. A walk
// that announces the records a few steps ahead lets those misses overlap.
// It names the fields it reads, so that no more cache lines are fetched than
// it uses: the number of misses in flight is limited. Only a hint: it
// changes no value and reads nothing but the records' own fields.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "postprocessor/host/analysis_output.h"
#include "postprocessor/support/prefetch.h"

namespace qorv::postprocessor::detail {

// The parts of a record a walk reads, to be or-ed together.
enum RecordField : unsigned {
  kCount = 1U << 0,  // the reference count make_shared keeps before the record
  kId = 1U << 1,
  kCategory = 1U << 2,
  kMessage = 1U << 3,
  kSecondary = 1U << 4,
  kNodes = 1U << 5,
  kSeverity = 1U << 6,  // and the suppressed flag beside it
  kSubcategory = 1U << 7,
  kMessageText = 1U << 8,  // the message's characters
  kNodeNames = 1U << 9,    // the node list's names
};

// record_at(i) gives the i-th record of the walk (or null), for i below
// size; fields are the RecordFields the walk reads.
template <typename RecordAt>
class PrefetchWalk {
 public:
  PrefetchWalk(std::size_t size, RecordAt record_at, unsigned fields)
      : size_(size), record_at_(record_at), fields_(fields) {}

  // Call once per step, before working on the i-th record.
  void At(std::size_t i) const {
    if (i + kRecordDistance < size_) Record(record_at_(i + kRecordDistance));
    if (i + kTextDistance < size_) Texts(record_at_(i + kTextDistance));
  }

 private:
  // The record is fetched first; what its fields point to once the record
  // itself has had time to arrive.
  static constexpr std::size_t kRecordDistance = 16;
  static constexpr std::size_t kTextDistance = 8;

  // A field may straddle two cache lines (a string's data pointer in one,
  // its length in the next): both ends are announced. Where they share a
  // line the second hint costs next to nothing.
  template <typename Field>
  static void Whole(const Field& field) {
    const char* first = reinterpret_cast<const char*>(&field);
    Prefetch(first);
    Prefetch(first + sizeof(Field) - 1);
  }

  void Record(const analysis::AnalysisOutput* record) const {
    if (record == nullptr) return;
    if (fields_ & kCount) Prefetch(reinterpret_cast<const char*>(record) - 16);
    if (fields_ & kId) Whole(record->id);
    if (fields_ & kCategory) Whole(record->category);
    if (fields_ & kMessage) Whole(record->message);
    if (fields_ & kSecondary) Whole(record->secondary_message);
    if (fields_ & kNodes) Whole(record->nodes);
    if (fields_ & kSeverity) {
      Prefetch(&record->severity);
      Prefetch(&record->suppressed);
    }
    if (fields_ & kSubcategory) Whole(record->subcategory);
  }

  void Texts(const analysis::AnalysisOutput* record) const {
    if (record == nullptr) return;
    if (fields_ & kMessageText) Prefetch(record->message.data());
    if ((fields_ & kNodeNames) && !record->nodes.empty()) Prefetch(record->nodes.data());
  }

  std::size_t size_;
  RecordAt record_at_;
  unsigned fields_;
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
  RecordPrefetch(const Records& records, unsigned fields) : PrefetchWalk(records.size(), InList{&records}, fields) {}
};

}  // namespace qorv::postprocessor::detail
