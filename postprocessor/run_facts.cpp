#include "postprocessor/run_facts.h"

#include <algorithm>
#include <tuple>

#include "postprocessor/collapse/category_map.h"
#include "postprocessor/run_share.h"

namespace qorv::postprocessor {

namespace {

// Collapsed issues of the severity code and type bits, whichever fail bit
// their key carries: the sorted map sets it from a group's lower bound,
// the counts from its upper bound.
std::size_t CountCollapsed(const PostprocessorExtensionData& data, int code, unsigned long type) {
  if (!data.collapsed_by_type) return 0;
  std::size_t count = 0;
  for (bool fail : {false, true}) {
    const auto found = data.collapsed_by_type->find(MakeIssueKey(type, static_cast<unsigned long>(code), fail));
    if (found != data.collapsed_by_type->end()) count += found->second.size();
  }
  return count;
}

// Whether a severity group with this upper bound contributes to FAIL, as
// the counts of the severity collapse decide it.
bool ReachesFailLevel(int upper, int fail_level) { return upper >= fail_level; }

bool DefinitionsPassed(const PostprocessorExtensionData& data) {
  if (!data.fwd_attributes) return true;
  for (const auto& entry : data.fwd_attributes->fwds) {
    if (entry.second && !entry.second->skipped && !entry.second->pass) return false;
  }
  return true;
}

std::string ShortName(const std::string& node) { return node.substr(0, node.find('.')); }

// Splits every entry that names several nodes ("a, b" or "a,b").
std::set<std::string> SingleNodes(const std::set<std::string>& entries) {
  std::set<std::string> nodes;
  for (const auto& entry : entries) {
    std::size_t start = 0;
    while (start <= entry.size()) {
      std::size_t end = entry.find(',', start);
      if (end == std::string::npos) end = entry.size();
      std::size_t first = start;
      while (first < end && entry[first] == ' ') ++first;
      if (first < end || entry.find(',') == std::string::npos) nodes.insert(entry.substr(first, end - first));
      start = end + 1;
    }
  }
  return nodes;
}

}  // namespace

std::shared_ptr<const RunFacts> RunFacts::Of(const PostprocessorExtensionData& data) {
  detail::RunShare* share = detail::ShareOf(data);
  if (!share) return std::make_shared<const RunFacts>(data);
  if (!share->facts) share->facts = std::make_shared<const RunFacts>(data);
  return share->facts;
}

RunFacts::RunFacts(const PostprocessorExtensionData& data) : passed(data.passed), fail_level(data.fail_level) {
  for (const auto& [name, bounds] : severity_groups) {
    const auto& [lower, upper, code] = bounds;
    GroupCount group{name,
                     lower,
                     upper,
                     ReachesFailLevel(upper, fail_level),
                     CountCollapsed(data, code, DIAGNOSIS),
                     CountCollapsed(data, code, OBSERVATION) + CountCollapsed(data, code, THIRD_LIST)};
    (group.contributes_to_fail ? failing_diagnoses : other_diagnoses) += group.diagnoses;
    (group.contributes_to_fail ? failing_observations : other_observations) += group.observations;
    groups.push_back(std::move(group));
  }
  std::sort(groups.begin(), groups.end(), [](const GroupCount& a, const GroupCount& b) { return a.lower > b.lower; });
  suppressed = data.suppressed_count > 0 ? static_cast<std::size_t>(data.suppressed_count) : 0;

  if (data.fwd_attributes) {
    for (const auto& [name, fwd] : data.fwd_attributes->fwds) {
      if (fwd && fwd->skipped) skipped_definitions.push_back(name);
    }
    for (const auto& root : data.fwd_attributes->roots) {
      if (root && root->fwd && !root->fwd->validation.empty())
        validations.emplace_back(root->fwd->validation, root->fwd->pass);
    }
  }
  derived_passed = failing() == 0 && DefinitionsPassed(data);

  const auto map = CategoryMap::OfRun(data, true);
  for (const auto& category : map->GetCategories()) {
    if (map->IsNonIssueCategory(category)) continue;
    const std::size_t count = map->GetNumIssuesInSubclusters(category);
    if (count == 0) continue;
    issues_per_category[category] = count;
    issues_found += count;
  }
  tests_failed_to_run = map->GetNumIssuesInSubclusters(kErrorCategory);
  informational = map->GetNumIssuesInSubclusters(kInformationalCategory);
  overall_result_ = map->GetOverallResultString();

  if (data.nodes) {
    for (const auto& node : *data.nodes) tested_nodes.insert(node.name);
  }
  SortNodes(map->GetIssueNodes(), tested_nodes, nodes_with_issues, nodes_without_issues);
}

void RunFacts::SortNodes(const std::set<std::string>& issue_nodes, const std::set<std::string>& tested,
                         std::set<std::string>& with_issues, std::set<std::string>& without_issues) {
  with_issues = SingleNodes(issue_nodes);
  std::set<std::string> short_names;
  for (const auto& node : with_issues) {
    if (node.find('.') != std::string::npos) short_names.insert(ShortName(node));
  }
  for (const auto& name : short_names) with_issues.erase(name);
  without_issues.clear();
  for (const auto& node : tested) {
    if (with_issues.count(node) != 0 || short_names.count(node) != 0) continue;
    if (node.find('.') != std::string::npos && with_issues.count(ShortName(node)) != 0) continue;
    without_issues.insert(node);
  }
}

bool RunFacts::DerivedPassed(const PostprocessorExtensionData& data) {
  for (const auto& [name, bounds] : severity_groups) {
    if (!ReachesFailLevel(std::get<1>(bounds), data.fail_level)) continue;
    for (unsigned long type : {DIAGNOSIS, OBSERVATION, THIRD_LIST}) {
      if (CountCollapsed(data, std::get<2>(bounds), type) > 0) return false;
    }
  }
  return DefinitionsPassed(data);
}

std::string RunFacts::OverallResult() const {
  static const std::string kLabel = "  Overall Result: ";
  return overall_result_.compare(0, kLabel.size(), kLabel) == 0 ? overall_result_.substr(kLabel.size())
                                                                : overall_result_;
}

}  // namespace qorv::postprocessor
