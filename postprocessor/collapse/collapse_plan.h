// A collapse in two steps, so that two collapses of one issue list can
// share the issues they have in common. Internal, not installed.
//
// Collapser::Collapse is a CollapsePlan finished at once. CategoryMap::OfRun
// collapses the run's issues under two option sets (with and without
// tables), which mostly group the records alike: the second collapse takes
// an issue of the first wherever its records are exactly those of that
// issue, so both maps can be kept for the price of one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "postprocessor/collapse/collapser.h"
#include "postprocessor/collapse/grouped_joins.h"
#include "postprocessor/text_numbers.h"

namespace qorv::postprocessor::detail {

using CollapsedList = std::vector<std::shared_ptr<CollapsedAnalysisOutput>>;

// The issues of a collapse into an empty list, with for each record the
// position of the issue it joined.
struct CollapseGroups {
  static constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
  std::vector<std::uint32_t> of_record;
  CollapsedList issues;
};

class CollapsePlan {
 public:
  // Decides which issues of out each record joins, as Collapser::Collapse
  // would, and which new issues it would make; nothing is changed but the
  // length of out (new positions hold null until Finish). With reuse, the
  // groups of an earlier collapse of the same records into an empty list, a
  // new issue whose records are exactly those of an issue there, in the same
  // order, and which is not a table message, will be that issue itself: the
  // two collapses would have made equal issues. reuse must outlive the plan
  // unless DropReuse is called.
  CollapsePlan(const Collapser& options, const Records& records, CollapsedList& out, const CollapseGroups* reuse);

  // Records (counted once per issue they join) that would go into issues
  // taken from reuse, and in all.
  std::size_t ReusedRecords() const { return reused_records_; }
  std::size_t JoinedRecords() const { return joins_.size(); }

  // Makes every new issue afresh.
  void DropReuse();

  // Makes and fills the issues; reused[position] tells, for each position of
  // out, whether its issue was taken from reuse. When groups is given (out
  // was empty), it receives this collapse's groups. Call once.
  void Finish(std::vector<bool>& reused, CollapseGroups* groups);

 private:
  bool TableId(const std::string& id);

  const Collapser& options_;
  const Records& records_;
  CollapsedList& out_;
  const CollapseGroups* reuse_;
  std::size_t existing_;  // positions of out before the collapse
  GroupedJoins joins_;
  // For each new position: whether its first record is a table message,
  // and the issue of reuse it takes, or kNone.
  std::vector<bool> new_table_;
  std::vector<std::uint32_t> taken_;
  std::size_t reused_records_ = 0;
  // The usable ids of the table messages, made at the first question: it
  // is asked once per new issue and once per record joining a table issue,
  // and a lookup in the definitions themselves makes a string and walks a
  // tree. Empty when there are no table messages.
  TextNumbers table_ids_;
  bool table_ids_made_ = false;
};

}  // namespace qorv::postprocessor::detail
