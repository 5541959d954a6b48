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
  explicit GroupedJoins(std::size_t expected) { joins_.reserve(expected); }

  // The record at index record (of the list given to Run) joins the issue
  // at position. Called in list order. Indexes are kept in 32 bits, which
  // halves the memory a million joins take; a list of four billion records
  // would not fit in memory anyway.
  void Add(std::size_t position, std::size_t record) {
    if (position > kMaxIndex || record > kMaxIndex) throw std::length_error("too many issues to collapse");
    joins_.push_back({static_cast<Index>(position), static_cast<Index>(record)});
  }

  // For each position below positions that has joins, in ascending order:
  // begin(position, count), then join(position, record) for each of its
  // records in the order they were added. fields are the RecordFields join
  // reads. Empties the collected joins.
  template <typename Begin, typename Join>
  void Run(std::size_t positions, const Records& records, unsigned fields, Begin&& begin, Join&& join) {
    // Joins are counted and then placed by position (a stable counting
    // sort), so a position's records keep their order.
    std::vector<Index> ends(positions + 1, 0);
    for (const Entry& entry : joins_) ++ends[entry.position + 1];
    for (std::size_t p = 1; p <= positions; ++p) ends[p] += ends[p - 1];
    std::vector<Index> order(joins_.size());
    for (const Entry& entry : joins_) order[ends[entry.position]++] = entry.record;
    joins_ = {};
    // ends[p] is now where position p's joins end.

    const auto record_at = [&records, &order](std::size_t k) { return records[order[k]].get(); };
    const PrefetchWalk<decltype(record_at)> prefetch(order.size(), record_at, fields);
    std::size_t k = 0;
    for (std::size_t p = 0; p < positions; ++p) {
      if (k == ends[p]) continue;
      begin(p, ends[p] - k);
      for (; k < ends[p]; ++k) {
        // The list's entries are visited out of order too.
        if (k + kEntryDistance < order.size()) Prefetch(&records[order[k + kEntryDistance]]);
        prefetch.At(k);
        join(p, order[k]);
      }
    }
  }

 private:
  static constexpr std::size_t kEntryDistance = 32;
  using Index = std::uint32_t;
  static constexpr std::size_t kMaxIndex = std::numeric_limits<Index>::max() - 1;
  struct Entry {
    Index position;
    Index record;
  };
  std::vector<Entry> joins_;
};

}  // namespace qorv::postprocessor::detail
