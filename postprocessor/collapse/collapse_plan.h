// CollapsePlan: a collapse in two steps, deciding first and appending
// after. Internal, not installed.
//
// The plan decides, record by record in list order, which issues of out
// each record joins and which new issues it makes, through a CandidateIndex;
// Finish then appends the records issue by issue (see GroupedJoins), once
// the index is gone. Collapser::Collapse and the category map's collapse
// are a plan finished at once; the category map passes the run's own table
// definitions.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "postprocessor/collapse/collapser.h"
#include "postprocessor/collapse/grouped_joins.h"
#include "postprocessor/intake/message_table.h"
#include "postprocessor/support/text_numbers.h"

namespace qorv::postprocessor::detail {

using CollapsedList = std::vector<std::shared_ptr<CollapsedAnalysisOutput>>;

// The issue's first record; for none, or a null one, a record with ""
// texts, severity 0 and not suppressed, as Compare sees it.
const analysis::AnalysisOutput& FirstRecord(const CollapsedAnalysisOutput& issue);

class CollapsePlan {
 public:
  // Decides which issues of out each record joins, as Collapser::Collapse
  // would with tables as its table definitions, and which new issues it
  // would make; nothing is changed but the length of out (new positions
  // hold null until Finish). options, records, out and tables must outlive
  // the plan.
  CollapsePlan(const Collapser& options, const Records& records, CollapsedList& out, const TableDefinitions& tables);

  // Makes the new issues and appends every record to the issues it joins,
  // then sorts every table of out. Call once.
  void Finish();

 private:
  bool TableId(const std::string& id) const;

  const Collapser& options_;
  const Records& records_;
  CollapsedList& out_;
  const TableDefinitions& tables_;
  std::size_t existing_;  // positions of out before the collapse
  GroupedJoins joins_;
  // For each new position: whether its first record is a table message.
  std::vector<bool> new_table_;
  // The usable ids of the table messages: asked once per new issue and once
  // per record joining a table issue, where a lookup in the definitions
  // themselves would make a string and walk a tree.
  TextNumbers table_ids_;
};

}  // namespace qorv::postprocessor::detail
