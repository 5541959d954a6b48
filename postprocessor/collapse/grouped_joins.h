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

#include "postprocessor/record_prefetch.h"

namespace qorv::postprocessor::detail {

class GroupedJoins {
 public:
  // Indexes are kept in 32 bits, which halves the memory a million joins
  // take; a list of four billion records would not fit in memory anyway.
  using Index = std::uint32_t;

  explicit GroupedJoins(std::size_t expected) { joins_.reserve(expected); }

  // The record at index record (of the list given to Each) joins the issue
  // at position. Called in list order, before Sort.
  void Add(std::size_t position, std::size_t record) {
    if (position > kMaxIndex || record > kMaxIndex) throw std::length_error("too many issues to collapse");
    joins_.push_back({static_cast<Index>(position), static_cast<Index>(record)});
  }

  // Orders the joins by position, keeping each position's records in the
  // order they were added. Positions must all be below positions.
  void Sort(std::size_t positions) {
    // A stable counting sort: count, then place.
    ends_.assign(positions + 1, 0);
    for (const Entry& entry : joins_) ++ends_[entry.position + 1];
    for (std::size_t p = 1; p <= positions; ++p) ends_[p] += ends_[p - 1];
    order_.resize(joins_.size());
    for (const Entry& entry : joins_) order_[ends_[entry.position]++] = entry.record;
    joins_ = {};
    // ends_[p] is now where position p's records end.
  }

  // After Sort: the records joining position, in order.
  const Index* begin(std::size_t position) const { return order_.data() + (position == 0 ? 0 : ends_[position - 1]); }
  const Index* end(std::size_t position) const { return order_.data() + ends_[position]; }
  std::size_t size() const { return order_.size(); }

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
  static constexpr std::size_t kMaxIndex = std::numeric_limits<Index>::max() - 1;
  struct Entry {
    Index position;
    Index record;
  };
  std::vector<Entry> joins_;
  std::vector<Index> ends_;
  std::vector<Index> order_;
};

}  // namespace qorv::postprocessor::detail
