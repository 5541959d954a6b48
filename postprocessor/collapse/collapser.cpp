#include "postprocessor/collapse/collapser.h"

#include "postprocessor/collapse/collapse_plan.h"
#include "postprocessor/intake/message_table.h"
#include "postprocessor/utility_functions.h"

namespace qorv::postprocessor {

using analysis::AnalysisOutput;

bool Collapser::Compare(std::shared_ptr<AnalysisOutput> record, std::shared_ptr<CollapsedAnalysisOutput> candidate) {
  if (!record || !candidate) return false;
  const AnalysisOutput& first = detail::FirstRecord(*candidate);
  if (compare_id) {
    if (use_tables && candidate->is_table) {
      const UtilityFunctions utility;
      if (utility.get_usable_id(record->id) != utility.get_usable_id(first.id)) return false;
    } else if (record->id != first.id) {
      return false;
    }
  }
  if (compare_severity && record->severity != first.severity) return false;
  if (compare_message && record->message != first.message) return false;
  if (compare_secondary) {
    const bool by_message = record->secondary_message.empty();
    if (by_message ? record->message != first.message : record->secondary_message != first.secondary_message) {
      return false;
    }
  }
  if (compare_suppressed && record->suppressed != first.suppressed) return false;
  if (compare_category && record->category != first.category) return false;
  if (compare_subcategory && record->subcategory != first.subcategory) return false;
  return true;
}

void Collapser::Collapse(std::shared_ptr<std::vector<std::shared_ptr<AnalysisOutput>>> records,
                         std::vector<std::shared_ptr<CollapsedAnalysisOutput>>& out) {
  static const detail::Records kNoRecords;
  detail::CollapsePlan(*this, records ? *records : kNoRecords, out, MessageTable::table_map).Finish();
}

}  // namespace qorv::postprocessor
