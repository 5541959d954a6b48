// The severity collapse: the typed issue lists become collapsed issues
// filed by issue key, counted, and linked.
#include <algorithm>
#include <unordered_map>

#include "postprocessor/collapse/collapsed_analysis_output.h"
#include "postprocessor/collapse/issue_index.h"
#include "postprocessor/utility_functions.h"

namespace qorv::postprocessor {

int UtilityFunctions::SortType(const Config& config, PostprocessorExtensionData& data) const {
  const Type list_types[] = {DIAGNOSIS, OBSERVATION, THIRD_LIST};
  CollapsedByType collapsed;
  for (const auto& group : severity_groups) {
    const int lower = std::get<0>(group.second);
    const int upper = std::get<1>(group.second);
    for (Type type : list_types) {
      auto& out = collapsed[detail::GroupKey(group, type, data.fail_level)];
      severity_collapse(data, config.issue_lists[type], out, lower, upper, type);
    }
  }
  data.collapsed_by_type = std::make_shared<CollapsedByType>(collapsed);

  // Linking leaves every vector and id as it is, so one index serves it all.
  const detail::UsableIdIndex::Scope index(data.collapsed_by_type);
  for (const auto& [key, issues] : *data.collapsed_by_type) {
    const auto type = static_cast<Type>(key.to_ulong() & 3UL);
    for (const auto& issue : issues) {
      if (PopulateCollapsedOutput(issue, type, data) == 1) return 1;
    }
  }
  return 0;
}

void UtilityFunctions::severity_collapse(PostprocessorExtensionData& data,
                                         const std::vector<std::shared_ptr<analysis::AnalysisOutput>>& records,
                                         std::vector<std::shared_ptr<CollapsedAnalysisOutput>>& out,
                                         const int& bound_a, const int& bound_b, Type type) const {
  const int lo = std::min(bound_a, bound_b);
  const int hi = std::max(bound_a, bound_b);
  std::vector<std::shared_ptr<analysis::AnalysisOutput>> selected;
  for (const auto& record : records) {
    if (record && lo <= record->severity && record->severity <= hi) selected.push_back(record);
  }
  CollapseAnalysisOutputs(selected, out, data, type);

  const unsigned long count_key = (type == DIAGNOSIS ? 0UL : kAnyObservation) | (hi >= data.fail_level ? kFailBit : 0UL);
  data.type_counts[IssueKey(count_key)] += static_cast<std::int32_t>(out.size());
}

void UtilityFunctions::CollapseAnalysisOutputs(const std::vector<std::shared_ptr<analysis::AnalysisOutput>>& records,
                                               std::vector<std::shared_ptr<CollapsedAnalysisOutput>>& out,
                                               PostprocessorExtensionData& data, Type type) const {
  // The first issue of out with a given identity, as the walk would find it.
  std::unordered_map<detail::IssueIdentity, std::size_t, detail::IssueIdentityHash> first_with;
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out[i]) first_with.emplace(detail::IssueIdentity::Of(*out[i]), i);
  }

  for (const auto& record : records) {
    if (!record) continue;
    if (record->suppressed) {
      ++data.suppressed_count;
    } else {
      const auto found = first_with.find(detail::IssueIdentity::Of(*record));
      if (found != first_with.end()) {
        out[found->second]->append(record);
      } else {
        auto issue = std::make_shared<CollapsedAnalysisOutput>(type);
        issue->append(record);
        first_with.emplace(detail::IssueIdentity::Of(*record), out.size());
        out.push_back(std::move(issue));
      }
    }
    if (!data.collapsed_names) data.collapsed_names = std::make_shared<std::set<std::string>>();
    data.collapsed_names->insert(record->nodes.begin(), record->nodes.end());
  }
}

int UtilityFunctions::PopulateCollapsedOutput(std::shared_ptr<CollapsedAnalysisOutput> issue, Type type,
                                              const PostprocessorExtensionData& data) const {
  if (GetOutputFWD(issue, type, data) == 1) return 1;
  if (type != DIAGNOSIS) return 0;

  std::vector<std::shared_ptr<CollapsedAnalysisOutput>> triggers;
  if (DiagnosisMapping(issue, data, triggers, OBSERVATION) == 1) return 1;
  if (DiagnosisMapping(issue, data, triggers, DIAGNOSIS) == 1) return 1;
  for (const auto& trigger : triggers) {
    issue->related[trigger->type].insert(trigger);
    if (trigger->type == DIAGNOSIS) {
      trigger->triggered_diagnoses.insert(issue);
    } else {
      trigger->related[DIAGNOSIS].insert(issue);
    }
  }
  return 0;
}

}  // namespace qorv::postprocessor
