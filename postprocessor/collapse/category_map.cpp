#include "postprocessor/collapse/category_map.h"

#include <algorithm>
#include <optional>
#include <sstream>
#include <string_view>
#include <unordered_map>

#include "postprocessor/collapse/collapse_plan.h"
#include "postprocessor/collapse/mapping.h"
#include "postprocessor/collapse/record_prefetch.h"
#include "postprocessor/host/str.h"
#include "postprocessor/intake/message_table.h"
#include "postprocessor/run_share.h"
#include "postprocessor/support/text_numbers.h"

namespace qorv::postprocessor {

namespace {

const analysis::AnalysisOutput* FirstRecord(const CollapsedAnalysisOutput& issue) {
  return issue.issues.empty() ? nullptr : issue.issues.front().get();
}

bool IsSuppressed(const CollapsedAnalysisOutput& issue) {
  const auto* first = FirstRecord(issue);
  return first != nullptr && first->suppressed;
}

std::string CategoryOf(const CollapsedAnalysisOutput& issue) {
  const auto* first = FirstRecord(issue);
  return first == nullptr ? std::string() : first->category;
}

}  // namespace

std::shared_ptr<const CategoryMap> CategoryMap::OfRun(const PostprocessorExtensionData& data, bool tables) {
  // Which ids are table messages decides how a map groups them: a map
  // serves only while the table definitions are those it saw.
  const detail::TableDefinitions& definitions = tables ? data.message_tables : MessageTable::table_map;
  detail::RunShare* share = detail::ShareOf(data);
  if (!share) return Build(data, tables, definitions);
  auto& kept = share->maps[tables ? 1 : 0];
  if (!kept || kept->tables_seen_ != definitions) kept = Build(data, tables, definitions);
  return kept;
}

std::shared_ptr<CategoryMap> CategoryMap::Build(const PostprocessorExtensionData& data, bool tables,
                                                const detail::TableDefinitions& definitions) {
  std::set<std::string> names{kErrorCategory, kInformationalCategory};
  if (const IssueList* issues = data.issues.get()) {
    // Records of one category come in runs: compare with the last one
    // before searching the set.
    const std::string* last = nullptr;
    const detail::RecordPrefetch prefetch(*issues, detail::kCategory);
    for (std::size_t i = 0; i < issues->size(); ++i) {
      prefetch.At(i);
      const auto& record = (*issues)[i];
      if (!record || record->category.empty() || (last && *last == record->category)) continue;
      last = &record->category;
      names.insert(record->category);
    }
  }
  auto map = std::make_shared<CategoryMap>(std::vector<std::string>(names.begin(), names.end()), tables);
  map->PopulateSubclusters(data);
  map->SwitchOnCollapseOptions();
  map->FileIssues(data, definitions, true);
  map->frozen_ = true;
  map->GatherIssueNodes(map->issue_nodes);
  return map;
}

CategoryMap::CategoryMap(const std::vector<std::string>& category_names, bool tables)
    : table_mode(tables),
      categories(category_names.begin(), category_names.end()),
      non_issue_categories{kErrorCategory, kInformationalCategory} {}

void CategoryMap::PopulateIssues(const PostprocessorExtensionData& data) {
  SetCollapseOptions(data);
  FileIssues(data, MessageTable::table_map, false);
}

void CategoryMap::FileIssues(const PostprocessorExtensionData& data, const detail::TableDefinitions& definitions,
                             bool group_by_nodes) {
  static const IssueList kNoIssues;
  tables_seen_ = definitions;
  IssueVector collapsed;
  detail::CollapsePlan(collapser, data.issues ? *data.issues : kNoIssues, collapsed, definitions).Finish();

  // Tying issues to their definitions leaves collapsed_by_type as it is, so
  // one index serves every lookup of triggering observations.
  std::optional<detail::UsableIdIndex> index;
  if (data.collapsed_by_type) index.emplace(*data.collapsed_by_type);
  default_group_ = data.default_subcluster_only;
  std::unordered_map<std::string_view, const std::string*> group_of_node;
  for (std::size_t position = 0; position < collapsed.size(); ++position) {
    const auto& issue = collapsed[position];
    const auto* first = FirstRecord(*issue);
    const std::string usable_id = utility.get_usable_id(first == nullptr ? std::string() : first->id);
    const bool diagnosis = data.diagnosis_ids && data.diagnosis_ids->count(usable_id) != 0;
    // Without a definitions record there is nothing to tie the issue to.
    if (data.fwd_attributes) {
      detail::GetOutputFWD(issue, diagnosis ? DIAGNOSIS : COLLAPSED, data, index ? &*index : nullptr);
    }

    const std::string category = IsSuppressed(*issue) ? kSuppressedCategory : CategoryOf(*issue);
    // Where subclusters come from the nodes, the empty node group key is
    // the default group, for issues as for nodes.
    std::string subcluster = GetSubCategory(issue);
    if (subcluster.empty() && data.default_subcluster_only) subcluster = "default-subcluster";
    // A record that names no node group would be counted by the summary
    // but shown by no report: it goes with its nodes' group.
    if (subcluster.empty() && group_by_nodes && first != nullptr) {
      if (group_of_node.empty()) {
        for (const auto& [name, nodes] : subcluster_map) {
          for (const auto& node : nodes) group_of_node.emplace(node, &name);
        }
      }
      for (const auto& node : first->nodes) {
        const auto found = group_of_node.find(node);
        if (found == group_of_node.end()) continue;
        subcluster = *found->second;
        break;
      }
    }
    auto& filed = issue_map[{category, subcluster}];
    if (!filed) filed = std::make_shared<IssueVector>();
    filed->push_back(issue);
  }
}

void CategoryMap::PopulateSubclusters(const PostprocessorExtensionData& data) {
  if (data.default_subcluster_only && data.nodes) {
    for (const auto& node : *data.nodes) {
      subcluster_map[node.group.empty() ? "default-subcluster" : node.group].push_back(node.name);
    }
  } else if (data.node_groups) {
    for (const auto& [name, group] : *data.node_groups) {
      if (!group) continue;
      for (const auto& node : group->get_node_names()) subcluster_map[name].push_back(node);
    }
  }
}

void CategoryMap::SwitchOnCollapseOptions() {
  collapser.compare_suppressed = true;
  collapser.compare_category = true;
  collapser.compare_subcategory = true;
  if (!table_mode) {
    collapser.compare_secondary = true;
  } else {
    collapser.compare_id = true;
    collapser.compare_message = true;
    collapser.use_tables = true;
  }
}

void CategoryMap::SetCollapseOptions(const PostprocessorExtensionData& data) {
  SwitchOnCollapseOptions();
  if (table_mode && &data.message_tables != &MessageTable::table_map) MessageTable::table_map = data.message_tables;
}

void CategoryMap::CollapseIssues(const PostprocessorExtensionData& data, IssueVector& out) {
  SetCollapseOptions(data);
  collapser.Collapse(data.issues, out);
}

std::string CategoryMap::GetSubCategory(std::shared_ptr<CollapsedAnalysisOutput> issue) const {
  const auto* first = issue ? FirstRecord(*issue) : nullptr;
  return first == nullptr ? std::string() : first->subcategory;
}

std::set<std::string> CategoryMap::GetCategories() const { return categories; }

std::set<std::string> CategoryMap::GetSubclusters() const {
  std::set<std::string> names;
  for (const auto& entry : subcluster_map) names.insert(names.end(), entry.first);
  return names;
}

std::pair<std::string, std::string> CategoryMap::LookupKey(const std::string& category,
                                                           const std::string& subcluster) const {
  return {category, subcluster.empty() && default_group_ ? std::string("default-subcluster") : subcluster};
}

std::shared_ptr<CategoryMap::IssueVector> CategoryMap::GetIssuesByCategory(const std::string& category,
                                                                           const std::string& subcluster) {
  const auto found = issue_map.find(LookupKey(category, subcluster));
  return found == issue_map.end() ? std::make_shared<IssueVector>() : found->second;
}

std::shared_ptr<const CategoryMap::IssueVector> CategoryMap::GetIssuesByCategory(const std::string& category,
                                                                                 const std::string& subcluster) const {
  const auto found = issue_map.find(LookupKey(category, subcluster));
  return found == issue_map.end() ? std::make_shared<const IssueVector>() : found->second;
}

std::shared_ptr<CategoryMap::IssueVector> CategoryMap::GetSuppressedIssues() {
  return GetIssuesByCategory(kSuppressedCategory, "");
}

std::shared_ptr<const CategoryMap::IssueVector> CategoryMap::GetSuppressedIssues() const {
  return GetIssuesByCategory(kSuppressedCategory, "");
}

CategoryMap::IssueVector CategoryMap::GetAllIssues() const {
  IssueVector all;
  for (const auto& entry : issue_map) {
    if (entry.second) all.insert(all.end(), entry.second->begin(), entry.second->end());
  }
  return all;
}

int CategoryMap::GetNumIssuesByCategory(const std::string& category) const {
  std::size_t count = 0;
  for (auto it = issue_map.lower_bound({category, ""}); it != issue_map.end() && it->first.first == category; ++it) {
    if (it->second) count += it->second->size();
  }
  return static_cast<int>(count);
}

int CategoryMap::GetNumIssuesFound() const {
  std::size_t count = 0;
  for (const auto& entry : issue_map) {
    if (entry.second && !IsNonIssueCategory(entry.first.first)) count += entry.second->size();
  }
  return static_cast<int>(count);
}

bool CategoryMap::FoundIssues(const std::string& category) const {
  for (auto it = issue_map.lower_bound({category, ""}); it != issue_map.end() && it->first.first == category; ++it) {
    if (it->second && !it->second->empty() && subcluster_map.count(it->first.second) != 0) return true;
  }
  return false;
}

bool CategoryMap::IsNonIssueCategory(const std::string& category) const {
  return non_issue_categories.count(category) != 0;
}

std::vector<std::string> CategoryMap::GetNodesInSubcluster(const std::string& subcluster) const {
  const auto found = subcluster_map.find(subcluster);
  return found == subcluster_map.end() ? std::vector<std::string>() : found->second;
}

std::set<std::string> CategoryMap::GetIssueNodes() {
  if (!frozen_) GatherIssueNodes(issue_nodes);
  return issue_nodes;
}

std::set<std::string> CategoryMap::GetIssueNodes() const {
  std::set<std::string> nodes = issue_nodes;
  if (!frozen_) GatherIssueNodes(nodes);
  return nodes;
}

void CategoryMap::GatherIssueNodes(std::set<std::string>& nodes) const {
  // Names are gathered without order first and merged into the sorted set
  // once, in order: a node has many records, and each would cost a search.
  detail::TextNumbers names;
  auto collect = [this, &names](const std::string& category, const std::string& subcluster) {
    const auto found = issue_map.find({category, subcluster});
    if (found == issue_map.end() || !found->second) return;
    for (const auto& issue : *found->second) {
      if (!issue || IsSuppressed(*issue) || IsNonIssueCategory(CategoryOf(*issue))) continue;
      if (frozen_) {
        // A map OfRun built holds in each issue's node set exactly its
        // records' nodes, and that set lies together in memory where the
        // records are scattered.
        for (const auto& name : issue->nodes) names.Number(name);
        continue;
      }
      for (const auto& record : issue->issues) {
        if (!record) continue;
        for (const auto& name : record->nodes) names.Number(name);
      }
    }
  };
  // Issues of the unknown subcluster "" join every named subcluster's; a
  // set takes them once, so they are read once per category.
  if (!subcluster_map.empty()) {
    for (const auto& category : categories) {
      if (!FoundIssues(category)) continue;
      for (const auto& entry : subcluster_map) collect(category, entry.first);
      collect(category, "");
    }
  }
  auto hint = nodes.begin();
  for (std::string_view name : names.Sorted()) hint = std::next(nodes.emplace_hint(hint, name));
}

std::string CategoryMap::GetOverallResultString() const {
  std::ostringstream text;
  text << "  Overall Result: ";

  std::size_t issues = 0;
  std::vector<std::pair<std::string, std::size_t>> by_category;
  for (const auto& category : categories) {
    if (IsNonIssueCategory(category)) continue;
    const std::size_t count = GetNumIssuesInSubclusters(category);
    issues += count;
    if (count > 0) by_category.emplace_back(category, count);
  }

  if (issues > 0) {
    text << issues << " issue" << (issues > 1 ? "s" : "") << " found -";
    for (const auto& [category, count] : by_category) {
      text << " " << str::escape_controls(category, false) << " (" << count << "),";
    }
    std::string line = text.str();
    if (!line.empty() && line.back() == ',') line.pop_back();
    return line;
  }
  text << (GetNumIssuesInSubclusters(kErrorCategory) < 1 ? "No issues found" : "Could not run all tests.");
  return text.str();
}

std::size_t CategoryMap::GetNumIssuesInSubclusters(const std::string& category) const {
  std::size_t count = 0;
  for (auto it = issue_map.lower_bound({category, ""}); it != issue_map.end() && it->first.first == category; ++it) {
    if (it->second && subcluster_map.count(it->first.second) != 0) count += it->second->size();
  }
  return count;
}

}  // namespace qorv::postprocessor
