#include "postprocessor/report/category_printing.h"

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "postprocessor/host/str.h"
#include "postprocessor/report/report_output.h"
#include "postprocessor/run_facts.h"

namespace qorv::postprocessor {

namespace {

using detail::Emit;
using detail::Rule;

constexpr const char kIndent[] = "  ";
constexpr const char kDeepIndent[] = "    ";
constexpr const char kDefaultSubcluster[] = "default-subcluster";

std::string Blanks(std::size_t count) { return std::string(count, ' '); }

// Text of the run on one report line: its control characters, newlines
// included, are shown as escapes.
std::string Shown(const std::string& text) { return str::escape_controls(text, false); }

}  // namespace

CategoryPrinting::CategoryPrinting(const CategoryMap* map, const PostprocessorExtensionData& data, bool long_format)
    : cat_map(map), run_data(data), long_format(long_format) {}

void CategoryPrinting::PrintSummary() {
  std::stringstream text;
  text << "SUMMARY" << std::endl;
  if (run_data.include_nodes && !run_data.include_nodes->empty()) {
    text << "NOTE:  All output is being filtered to show only the results of the following nodes: ";
    for (const auto& node : *run_data.include_nodes) text << " " << Shown(node);
    text << std::endl;
  }
  if (!run_data.command_line.empty()) text << kIndent << "Command-line: " << Shown(run_data.command_line) << std::endl;

  text << kIndent << "Tests Run: ";
  const auto& roots = run_data.fwd_attributes->roots;
  for (std::size_t i = 0; i < roots.size(); ++i) {
    if (roots[i] && roots[i]->fwd) text << Shown(get_short_name(roots[i]->fwd->path));
    if (i + 1 < roots.size()) text << ", ";
  }
  text << std::endl;

  const std::size_t failed = cat_map->GetNumIssuesInSubclusters(kErrorCategory);
  if (failed > 0) {
    text << kIndent << "**WARNING**: " << failed << " test" << (failed > 1 ? "s" : "")
         << " failed to run. Information may be incomplete. "
         << "See qorv_execution_warnings.log for more information." << std::endl;
  }
  text << cat_map->GetOverallResultString() << std::endl;
  text << Rule(run_data.width) << std::endl;
  Emit(str::column_wrap(text.str(), run_data.width, kIndent, ':', false));
}

void CategoryPrinting::PrintValidation() {
  const auto verdicts = get_validation(run_data.fwd_attributes->roots);
  if (verdicts.empty()) return;
  std::vector<std::string> passed;
  std::vector<std::string> failed;
  for (const auto& [name, verdict] : verdicts) {
    if (verdict == "PASS") passed.push_back(name);
    if (verdict == "FAIL") failed.push_back(name);
  }
  std::stringstream text;
  if (!passed.empty()) {
    text << "VALIDATION PASSED" << std::endl;
    for (const auto& name : passed) text << kIndent << Shown(name) << std::endl;
  }
  if (!failed.empty()) {
    text << "VALIDATION FAILED" << std::endl;
    for (const auto& name : failed) text << kIndent << Shown(name) << std::endl;
  }
  text << Rule(run_data.width) << std::endl;
  Emit(str::word_wrap(text.str(), run_data.width, ""));
}

void CategoryPrinting::PrintNodes() {
  std::set<std::string> tested;
  if (run_data.nodes) {
    for (const auto& node : *run_data.nodes) tested.insert(node.name);
  }
  std::set<std::string> with_issues;
  std::set<std::string> without_issues;
  RunFacts::SortNodes(cat_map->GetIssueNodes(), tested, with_issues, without_issues);

  const auto counts = str::AlignRight(
      {std::to_string(tested.size()), std::to_string(without_issues.size()), std::to_string(with_issues.size())}, "");
  std::stringstream text;
  text << counts[0] << (tested.size() == 1 ? " node tested: " : " nodes tested: ") << GetNodeStringSet(tested)
       << std::endl;
  if (!run_data.include_nodes || run_data.include_nodes->empty()) {
    text << counts[1] << (without_issues.size() == 1 ? " node with no issues: " : " nodes with no issues: ")
         << GetNodeStringSet(without_issues) << std::endl;
    text << counts[2] << (with_issues.size() == 1 ? " node with issues: " : " nodes with issues: ")
         << GetNodeStringSet(with_issues) << std::endl;
  }
  text << Rule(run_data.width) << std::endl;
  Emit(str::column_wrap(text.str(), run_data.width, "", ':', false));
}

void CategoryPrinting::PrintCategories() {
  for (const auto& category : cat_map->GetCategories()) {
    if (!cat_map->IsNonIssueCategory(category)) PrintCategory(category);
  }
}

void CategoryPrinting::PrintCategory(const std::string& category) {
  const bool found = cat_map->FoundIssues(category);
  if (category == kInformationalCategory) {
    if (!found) return;
    Emit(Rule(run_data.width) + "\n");
  }
  // Fixed texts are wrapped too, so that no width makes a line overflow;
  // at any usual width they fit and come out as they are.
  const std::string title = category == kErrorCategory ? std::string("RUNTIME ERRORS") : Shown(category);
  Emit(str::word_wrap(title + "\n", run_data.width, ""));
  if (!found) {
    Emit(str::word_wrap("No issues detected.\n\n", run_data.width, ""));
    return;
  }

  std::string introduction;
  if (category == kInformationalCategory) {
    introduction = "The following additional information was detected:";
  } else if (category == kErrorCategory) {
    introduction = "Quorvane encountered the following errors during execution:";
  } else {
    introduction = "The following " + Shown(str::lower(category)) + " issues were detected:";
  }
  Emit(str::word_wrap(introduction + "\n", run_data.width, ""));
  Emit("\n");

  if (run_data.default_subcluster_only) {
    PrintSubclusters(category);
  } else {
    PrintNodeGroups(category);
  }
}

void CategoryPrinting::PrintSubclusters(const std::string& category) {
  const auto subclusters = cat_map->GetSubclusters();
  if (subclusters.size() < 2) {
    PrintIssues(category, subclusters.empty() ? std::string() : *subclusters.begin(), kIndent);
    return;
  }
  for (const auto& subcluster : subclusters) {
    if (subcluster == kDefaultSubcluster) continue;
    PrintHeader("Subcluster \"" + Shown(subcluster) + "\"", subcluster, kIndent);
    PrintIssues(category, subcluster, kDeepIndent);
  }
  if (subclusters.count(kDefaultSubcluster) != 0) {
    PrintHeader("Remaining Nodes", kDefaultSubcluster, kIndent);
    PrintIssues(category, kDefaultSubcluster, kDeepIndent);
  }
}

void CategoryPrinting::PrintNodeGroups(const std::string& category) {
  const auto groups = cat_map->GetSubclusters();
  if (groups.size() < 2) {
    PrintIssues(category, groups.empty() ? std::string() : *groups.begin(), kIndent);
    return;
  }
  // The groups of all nodes come after the groups they are made of.
  for (const bool all_pass : {false, true}) {
    for (const auto& group : groups) {
      if ((group.find("All") != std::string::npos) != all_pass) continue;
      PrintHeader("Group \"" + Shown(group) + "\"", group, kIndent);
      PrintIssues(category, group, kDeepIndent);
    }
  }
}

void CategoryPrinting::PrintHeader(const std::string& title, const std::string& subcluster,
                                   const std::string& indent) const {
  std::string line = indent + title + ":";
  if (run_data.default_subcluster_only) {
    line += " " + get_node_string_merge(cat_map->GetNodesInSubcluster(subcluster));
  }
  Emit(str::word_wrap(line + "\n", run_data.width, indent));
}

void CategoryPrinting::PrintIssues(const std::string& category, const std::string& subcluster,
                                   const std::string& indent) {
  const auto issues = cat_map->GetIssuesByCategory(category, subcluster);
  if (issues->empty()) {
    Emit(str::word_wrap(indent + "No issues detected.\n\n", run_data.width, indent));
    return;
  }
  const int count = static_cast<int>(std::min<std::size_t>(issues->size(), INT32_MAX));
  const int digits = GetDigits(count);
  int number = 0;
  for (const auto& issue : *issues) {
    ++number;
    const std::string prefix = indent + std::to_string(number) + ". " + Blanks(digits - GetDigits(number));
    if (long_format) {
      PrintIssueLong(issue, prefix);
    } else {
      PrintIssue(issue, prefix);
    }
  }
  Emit("\n");
}

void CategoryPrinting::PrintIssue(std::shared_ptr<CollapsedAnalysisOutput> issue, std::string prefix) {
  std::string text;
  if (issue && !issue->issues.empty() && issue->issues.front()) {
    const auto& first = *issue->issues.front();
    text = first.secondary_message.empty() ? first.message : first.secondary_message;
  }
  Emit(str::word_wrap(prefix + Shown(remove_endl(text)) + "\n", run_data.width, Blanks(prefix.size())));
  PrintNodes(issue, Blanks(prefix.size() + 2));
}

void CategoryPrinting::PrintNodes(std::shared_ptr<CollapsedAnalysisOutput> issue, std::string prefix) {
  std::set<std::string> nodes;
  if (issue) {
    for (const auto& record : issue->issues) {
      if (record) nodes.insert(record->nodes.begin(), record->nodes.end());
    }
  }
  const std::string text = prefix + std::to_string(nodes.size()) + " node" + (nodes.size() > 1 ? "s" : "") + ": " +
                           GetNodeStringSet(nodes) + "\n";
  Emit(str::column_wrap(text, run_data.width, prefix, ':', false));
}

void CategoryPrinting::PrintIssueLong(std::shared_ptr<CollapsedAnalysisOutput> issue, std::string prefix) {
  if (!issue) issue = std::make_shared<CollapsedAnalysisOutput>();
  const bool table = issue->is_table && issue->table.IsValid() && !issue->table.empty();
  const std::string deeper = Blanks(prefix.size() + 2);

  std::string title = issue->get_id();
  if (table) title = get_usable_id(title);
  title = Shown(title);
  Emit(str::column_wrap(prefix + title + "\n", run_data.width, deeper, ':', false));

  std::string body = issue->get_message_string(deeper) + issue->get_remedy_string(deeper) +
                     issue->get_long_node_string(deeper) + issue->get_fwd_string(deeper, "Test");
  if (table) body += deeper + "Details: \n";
  Emit(str::column_wrap(body, run_data.width, deeper, ':', false));

  if (!table) return;
  for (const auto& line : issue->table.GetTableStrings()) Emit(deeper + "  " + line + "\n");
}

}  // namespace qorv::postprocessor
