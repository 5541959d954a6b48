// The severity collapse: the typed issue lists become collapsed issues
// filed by issue key, counted, and linked.
#include <algorithm>
#include <array>
#include <string_view>
#include <unordered_map>

#include "postprocessor/collapse/collapsed_analysis_output.h"
#include "postprocessor/collapse/grouped_joins.h"
#include "postprocessor/collapse/mapping.h"
#include "postprocessor/collapse/record_prefetch.h"
#include "postprocessor/support/text_numbers.h"
#include "postprocessor/utility_functions.h"

namespace qorv::postprocessor {

namespace {

using RecordList = std::vector<std::shared_ptr<analysis::AnalysisOutput>>;

// Adds the number of collapsed issues of one group and type to the counts:
// key 0 for diagnoses, 3 for the other types, plus the fail bit when the
// group's upper bound reaches the FAIL level.
void CountGroup(PostprocessorExtensionData& data, std::size_t issues, int upper, Type type) {
  const unsigned long key = (type == DIAGNOSIS ? 0UL : kAnyObservation) | (upper >= data.fail_level ? kFailBit : 0UL);
  data.type_counts[IssueKey(key)] += static_cast<std::int32_t>(issues);
}

}  // namespace

int UtilityFunctions::SortType(const Config& config, PostprocessorExtensionData& data) const {
  const Type list_types[] = {DIAGNOSIS, OBSERVATION, THIRD_LIST};

  // Each list is split by severity group in one pass, keeping list order,
  // instead of being scanned once per group.
  constexpr std::size_t kGroups = 3;
  std::array<std::array<RecordList, 3>, kGroups> selected;
  for (Type type : list_types) {
    const RecordList& records = config.issue_lists[type];
    const detail::RecordPrefetch prefetch(records, detail::kSeverity);
    for (std::size_t i = 0; i < records.size(); ++i) {
      prefetch.At(i);
      const auto& record = records[i];
      if (!record) continue;
      std::size_t index = 0;
      for (const auto& group : severity_groups) {
        if (std::get<0>(group.second) <= record->severity && record->severity <= std::get<1>(group.second)) {
          selected[index][type].push_back(record);
          break;
        }
        ++index;
      }
    }
  }

  CollapsedByType collapsed;
  std::size_t index = 0;
  for (const auto& group : severity_groups) {
    for (Type type : list_types) {
      auto& out = collapsed[detail::GroupKey(group, type, data.fail_level)];
      CollapseAnalysisOutputs(selected[index][type], out, data, type);
      CountGroup(data, out.size(), std::get<1>(group.second), type);
    }
    ++index;
  }
  data.collapsed_by_type = std::make_shared<CollapsedByType>(std::move(collapsed));

  // Linking leaves every vector and id as it is, so one index serves it all.
  const detail::UsableIdIndex links(*data.collapsed_by_type);
  for (const auto& [key, issues] : *data.collapsed_by_type) {
    const Type type = KeyType(key);
    for (const auto& issue : issues) {
      if (detail::PopulateCollapsedOutput(issue, type, data, &links) == 1) return 1;
    }
  }
  return 0;
}

void UtilityFunctions::severity_collapse(PostprocessorExtensionData& data, const RecordList& records,
                                         std::vector<std::shared_ptr<CollapsedAnalysisOutput>>& out, const int& bound_a,
                                         const int& bound_b, Type type) const {
  const int lo = std::min(bound_a, bound_b);
  const int hi = std::max(bound_a, bound_b);
  RecordList selected;
  for (const auto& record : records) {
    if (record && lo <= record->severity && record->severity <= hi) selected.push_back(record);
  }
  CollapseAnalysisOutputs(selected, out, data, type);
  CountGroup(data, out.size(), hi, type);
}

void UtilityFunctions::CollapseAnalysisOutputs(const std::vector<std::shared_ptr<analysis::AnalysisOutput>>& records,
                                               std::vector<std::shared_ptr<CollapsedAnalysisOutput>>& out,
                                               PostprocessorExtensionData& data, Type type) const {
  // Node names are gathered without order first and merged into the sorted
  // set once, in order: far fewer comparisons than one insert per record.
  detail::TextNumbers names;
  bool any_record = false;

  // The first issue of out with a given identity, as the walk would find it.
  detail::IdentityTable first_with(out.size());
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out[i]) first_with.Insert(detail::IssueIdentity::Of(*out[i]), i);
  }

  // Which issue each record joins is decided in list order; the records
  // are appended afterwards, issue by issue.
  detail::GroupedJoins joins(records.size());
  // A record's nodes are read when it is appended; only those of suppressed
  // records, which join no issue, are gathered here.
  const detail::RecordPrefetch prefetch(records,
                                        detail::kId | detail::kSeverity | detail::kMessage | detail::kMessageText);
  for (std::size_t i = 0; i < records.size(); ++i) {
    prefetch.At(i);
    const auto& record = records[i];
    if (!record) continue;
    if (record->suppressed) {
      ++data.suppressed_count;
      for (const auto& name : record->nodes) names.Number(name);
    } else {
      const std::size_t position = first_with.Insert(detail::IssueIdentity::Of(*record), out.size());
      if (position == out.size()) out.push_back(std::make_shared<CollapsedAnalysisOutput>(type));
      joins.Add(position, i);
    }
    any_record = true;
  }
  joins.Sort(out.size());
  joins.Each(
      records, detail::kCount | detail::kNodes | detail::kNodeNames,
      [&out](std::size_t position, const detail::GroupedJoins::Index* first, const detail::GroupedJoins::Index* last) {
        auto& issues = out[position]->issues;
        issues.reserve(issues.size() + static_cast<std::size_t>(last - first));
        return true;
      },
      [&out, &records, &names](std::size_t position, std::size_t i) {
        const auto& record = records[i];
        out[position]->append(record);
        for (const auto& name : record->nodes) names.Number(name);
      });

  if (!any_record) return;
  if (!data.collapsed_names) data.collapsed_names = std::make_shared<std::set<std::string>>();
  auto hint = data.collapsed_names->begin();
  for (std::string_view name : names.Sorted()) hint = std::next(data.collapsed_names->emplace_hint(hint, name));
}

}  // namespace qorv::postprocessor
