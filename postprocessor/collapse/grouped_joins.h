// Appending records to collapsed issues one issue after the other.
// Internal, not installed.
//
// A collapse decides, record by record in list order, which issue each
// record joins. Appending right away grows all the issues at once: the
// elements of one issue's node set end up spread over the memory of the
// whole collapse, and every later walk over a set (the reports, node
// ranges, freeing) then misses the cache at each element. Collecting the
// decisions first and appending afterwards, issue by issue, gives each
// issue the same records in the same order, with its set together in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <vector>

#include "postprocessor/collapse/record_prefetch.h"

namespace qorv::postprocessor::detail {

class GroupedJoins {
 public:
  // Indexes are kept in 32 bits, which halves the memory a million joins
  // take; a list of four billion records would not fit in memory anyway.
  using Index = std::uint32_t;

  // For a list of records records long.
  explicit GroupedJoins(std::size_t records) {
    if (records > kMaxIndex) throw std::length_error("too many issues to collapse");
    first_.assign(records, kNone);
  }

  // The record at index record (of the list given to Each) joins the issue
  // at position. Called in list order, before Sort.
  void Add(std::size_t position, std::size_t record) {
    if (position > kMaxIndex || joins_ >= kMaxIndex) throw std::length_error("too many issues to collapse");
    // Most records join one issue: that join is kept in the record's slot,
    // any further ones beside.
    if (first_[record] == kNone) {
      first_[record] = static_cast<Index>(position);
    } else {
      more_.push_back({static_cast<Index>(position), static_cast<Index>(record)});
    }
    ++joins_;
  }

  // Orders the joins by position, keeping each position's records in the
  // order they were added. Positions must all be below positions.
  void Sort(std::size_t positions) {
    // A stable counting sort: count, then place record by record.
    ends_.assign(positions + 1, 0);
    for (Index position : first_) {
      if (position != kNone) ++ends_[position + 1];
    }
    for (const Entry& entry : more_) ++ends_[entry.position + 1];
    for (std::size_t p = 1; p <= positions; ++p) ends_[p] += ends_[p - 1];
    order_.resize(joins_);
    auto more = more_.begin();
    for (std::size_t record = 0; record < first_.size(); ++record) {
      if (first_[record] == kNone) continue;
      order_[ends_[first_[record]]++] = static_cast<Index>(record);
      for (; more != more_.end() && more->record == record; ++more) order_[ends_[more->position]++] = more->record;
    }
    first_ = {};
    more_ = {};
    // ends_[p] is now where position p's records end.
  }

  // After Sort: the records joining position, in order.
  const Index* begin(std::size_t position) const { return order_.data() + (position == 0 ? 0 : ends_[position - 1]); }
  const Index* end(std::size_t position) const { return order_.data() + ends_[position]; }
  std::size_t size() const { return joins_; }

  // After Sort, for each position that has records, in ascending order:
  // start(position, first, last) with its records [first, last); when that
  // returns true, join(position, record) for each of them in order. fields
  // are the RecordFields join reads.
  template <typename Start, typename Join>
  void Each(const Records& records, unsigned fields, Start&& start, Join&& join) const {
    const auto record_at = [&records, this](std::size_t k) { return records[order_[k]].get(); };
    const PrefetchWalk<decltype(record_at)> prefetch(order_.size(), record_at, fields);
    const std::size_t positions = ends_.empty() ? 0 : ends_.size() - 1;
    for (std::size_t p = 0; p < positions; ++p) {
      const std::size_t first = p == 0 ? 0 : ends_[p - 1];
      if (first == ends_[p] || !start(p, order_.data() + first, order_.data() + ends_[p])) continue;
      for (std::size_t k = first; k < ends_[p]; ++k) {
        // The list's entries are visited out of order too.
        if (k + kEntryDistance < order_.size()) Prefetch(&records[order_[k + kEntryDistance]]);
        prefetch.At(k);
        join(p, order_[k]);
      }
    }
  }

 private:
  static constexpr std::size_t kEntryDistance = 32;
  static constexpr Index kNone = std::numeric_limits<Index>::max();
  static constexpr std::size_t kMaxIndex = kNone - 1;
  struct Entry {
    Index position;
    Index record;
  };
  std::vector<Index> first_;  // per record: the position it joined first, or kNone
  std::vector<Entry> more_;   // further joins, in record order
  std::size_t joins_ = 0;
  std::vector<Index> ends_;
  std::vector<Index> order_;
};

}  // namespace qorv::postprocessor::detail
