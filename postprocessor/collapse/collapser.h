// Collapser: merges raw issue records into collapsed issues under a
// configurable set of comparisons, for the category report.
//
// Records that count as the same issue under the options that are on
// become one collapsed issue (type COLLAPSED) listing all their nodes;
// records of a table message add their rows to the table. The
// object holds nothing but its nine options, which the owner sets before
// calling Collapse. The records and collapsed issues are shared: Collapse
// appends to the collapsed issues it is given and never changes a record.
// Single-threaded: it reads the static MessageTable state.
#pragma once

#include <memory>
#include <vector>

#include "postprocessor/collapse/collapsed_analysis_output.h"
#include "postprocessor/host/analysis_output.h"
#include "postprocessor/support/export.h"

namespace qorv::postprocessor {

class QORV_EXPORT Collapser {
 public:
  // Each comparison sets a field of the incoming record against the same
  // field of the candidate's first record (see Compare).
  bool compare_id = false;
  bool compare_severity = false;
  bool compare_message = false;
  bool compare_secondary = false;
  bool compare_suppressed = false;
  bool compare_category = false;
  bool compare_subcategory = false;
  // Suppressed records are left out of the result altogether.
  bool skip_suppressed = false;
  // Rows of table messages go into matching table issues, and ids of table
  // issues compare by usable id.
  bool use_tables = false;

  // Collapses the records into out, appending; issues already in out take
  // part in the matching. For each non-null record, in list order (a
  // suppressed one is skipped when skip_suppressed is on):
  //  - it is appended to EVERY issue of out for which Compare is true, in
  //    out order, so one record may join several issues. When use_tables is
  //    on, the record's id is a table message, and the issue is a table
  //    issue with a valid table, the record's row (MessageTable::GetRow of
  //    its id and arguments) is inserted with its nodes; a refused row is
  //    dropped, the record still joins.
  //  - when it joins none, a new issue of type COLLAPSED holding just the
  //    record goes to the end of out; for a table message its table is
  //    built from the message's headers and holds the record's row,
  //    whatever use_tables says.
  // Then the table of every issue of out is sorted. So out keeps the order
  // in which each issue's first record appeared, and each issue keeps its
  // records in list order. A null records pointer counts as an empty list;
  // null issues in out are never matched and left as they are.
  void Collapse(std::shared_ptr<std::vector<std::shared_ptr<analysis::AnalysisOutput>>> records,
                std::vector<std::shared_ptr<CollapsedAnalysisOutput>>& out);

  // True when the record belongs to the candidate under the options that
  // are on; true with every option off. The checks, each exact:
  //  - compare_id: the ids are equal; by usable id when use_tables is on
  //    and the candidate is a table issue.
  //  - compare_severity, compare_message, compare_suppressed,
  //    compare_category, compare_subcategory: that field is equal.
  //  - compare_secondary: the secondary messages are equal; when the
  //    record's secondary message is empty, its message must equal the
  //    candidate's message instead.
  // A candidate without a first record (none, or a null one) has "" for
  // every text, severity 0 and not suppressed. False when record or
  // candidate is null.
  bool Compare(std::shared_ptr<analysis::AnalysisOutput> record, std::shared_ptr<CollapsedAnalysisOutput> candidate);
};

}  // namespace qorv::postprocessor
