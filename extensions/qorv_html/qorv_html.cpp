// The qorv_html report extension: the results log as one self-contained web
// page, "qorv_results.html" beside the results log (its name with ".html"),
// for reading in a browser on a desk or a phone and for printing.
//
// The page has the results log's sections, built from the toolkit (the
// category map, node-range strings, severity names, the definitions and
// their trees, the node groups, the validation verdicts), plus a filter by
// node name and by severity group. Every text of the run goes through
// Escape, so nothing a run holds is ever read as markup; the only script is
// the page's own. The same run data always gives the same bytes.
//
// Each issue list of the page is numbered, and a JSON data block at the end
// names, for every listed issue in page order, its severity group and its
// nodes (as numbers into the sorted list of node names): the filter's index.
// A large report (more than kLargeReport issues) opens folded, and its issue
// lists stand in <noscript> chunks of kChunk issues: without a script they
// are ordinary markup, with one they are a single text node each, which the
// script parses only when a fold opens, a filter needs it or the page is
// printed. The DOM stays small whatever the run's size.
#include <algorithm>
#include <ctime>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "extensions/common/publish_result_file.h"
#include "extensions/qorv_html/html_text.h"
#include "extensions/qorv_html/page_assets.h"
#include "postprocessor/collapse/category_map.h"
#include "postprocessor/collapse/collapsed_analysis_output.h"
#include "postprocessor/host/issue_key.h"
#include "postprocessor/host/str.h"
#include "postprocessor/postprocessor_extension.h"
#include "postprocessor/run_facts.h"
#include "postprocessor/text/string_interface.h"
#include "postprocessor/utility_functions.h"
#include "postprocessor/version.h"

namespace {

using qorv::extensions::AtomicFileWriter;
using qorv::html_report::AppendEscaped;
using qorv::html_report::AppendJson;
using qorv::html_report::Clean;
using qorv::postprocessor::CategoryMap;
using qorv::postprocessor::CollapsedAnalysisOutput;
using qorv::postprocessor::IssueKey;
using qorv::postprocessor::kErrorCategory;
using qorv::postprocessor::kInformationalCategory;
using qorv::postprocessor::PostprocessorExtension;
using qorv::postprocessor::PostprocessorExtensionData;

constexpr char kDefaultSubcluster[] = "default-subcluster";
constexpr char kOverallPrefix[] = "  Overall Result: ";
// Severity groups, most severe first, and the name of severities in none.
const char* const kGroups[] = {"CRITICAL", "WARNING", "INFORMATIONAL"};
constexpr char kNoGroup[] = "OTHER";
// Reports listing more issues open folded, their issue lists parsed by the
// script when shown; at most this many are plain markup, open.
constexpr std::size_t kLargeReport = 200;
// Issues per <noscript> chunk of a large report's issue list: what the
// script parses at a time.
constexpr std::size_t kChunk = 25;

// The position of a severity group in kGroups, kNoGroup after them: how the
// data block names an issue's group.
std::size_t SeverityIndex(const std::string& group) {
  return static_cast<std::size_t>(std::find(std::begin(kGroups), std::end(kGroups), group) - std::begin(kGroups));
}

std::string Plural(std::size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

class HtmlReport : public PostprocessorExtension {
 public:
  using PostprocessorExtension::PostprocessorExtension;

  int run() override {
    categories_ = qorv::postprocessor::CategoryMap::OfRun(data, true);
    facts_ = qorv::postprocessor::RunFacts::Of(data);
    std::size_t listed = ListedIssues(kInformationalCategory) + ListedIssues(kErrorCategory);
    for (const auto& category : categories_->GetCategories()) {
      if (!categories_->IsNonIssueCategory(category)) listed += ListedIssues(category);
    }
    large_ = listed > kLargeReport;
    Time();
    const auto page = [this](AtomicFileWriter& file) {
      file_ = &file;
      Page();
      file_ = nullptr;
    };
    return qorv::extensions::PublishResultFile(data.output_file, ".html", "HTML report", page);
  }

 private:
  // --- Markup --------------------------------------------------------------

  // Appends raw markup: only the page's own literals go through here.
  HtmlReport& Raw(std::string_view markup) {
    file_->Append(markup);
    return *this;
  }
  // Appends a text of the run, escaped.
  HtmlReport& Text(const std::string& text) {
    AppendEscaped(file_->Out(), text);
    return *this;
  }
  // Appends a node name, escaped, without line breaks: the list of names
  // splits exactly at the blanks between them.
  HtmlReport& Name(const std::string& name) {
    AppendEscaped(file_->Out(), name, false);
    return *this;
  }
  HtmlReport& Element(const std::string& tag, const std::string& text, const std::string& attributes = "") {
    return Raw("<" + tag + attributes + ">").Text(text).Raw("</" + tag + ">");
  }

  // A node set: one name as it is; several as their node-range string that
  // unfolds to the whole list.
  template <typename Names>
  void Nodes(const Names& names, const std::string& range) {
    if (names.empty()) {
      Element("span", "none", " class=\"none\"");
      return;
    }
    if (names.size() == 1) {
      Raw("<code>").Name(*names.begin()).Raw("</code>");
      return;
    }
    Raw("<details class=\"nodes\"><summary><code>").Text(range).Raw("</code></summary><div class=\"node-list\">");
    bool first = true;
    for (const auto& name : names) {
      Raw(first ? "" : " ").Name(name);
      first = false;
    }
    Raw("</div></details>");
  }
  void Nodes(const std::set<std::string>& names) { Nodes(names, strings_.GetNodeStringSet(names)); }
  void Nodes(const std::vector<std::string>& names) { Nodes(names, strings_.get_node_string_merge(names)); }

  void Fact(const std::string& term, const std::string& value) {
    Element("dt", term);
    Element("dd", value);
  }

  // --- Page ----------------------------------------------------------------

  void Page() {
    const std::string verdict = data.passed ? "PASS" : "FAIL";
    Raw("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        "<meta name=\"generator\" content=\"")
        .Text(std::string(qorv::postprocessor::kProductName) + " " + qorv::postprocessor::kProductVersion)
        .Raw("\">\n<title>")
        .Text(verdict + (time_shown_.empty() ? "" : " " + time_shown_) + " - " + qorv::postprocessor::kProductName +
              " results")
        .Raw("</title>\n<style>")
        .Raw(qorv::html_report::kStyle)
        .Raw("</style>\n</head>\n<body>\n");
    OverallResult(verdict);
    Contents();
    Filters();
    Raw("<main>\n");
    Summary();
    Validation();
    NodeCounts();
    NodeGroups();
    Raw("<section id=\"categories\" aria-labelledby=\"categories-title\">\n"
        "<h2 id=\"categories-title\">Issues by category</h2>\n");
    for (const auto& category : categories_->GetCategories()) {
      if (!categories_->IsNonIssueCategory(category)) Category(category);
    }
    Raw("</section>\n");
    if (ListedIssues(kInformationalCategory) > 0) {
      Raw("<section id=\"informational\">\n");
      Category(kInformationalCategory);
      Raw("</section>\n");
    }
    Raw("<section id=\"runtime-errors\">\n");
    Category(kErrorCategory);
    Raw("</section>\n");
    Trees();
    Raw("</main>\n");
    Closing();
    DataBlock();
    Raw("<script>").Raw(qorv::html_report::kScript).Raw("</script>\n</body>\n</html>\n");
  }

  static std::string Breakdown(std::size_t diagnoses, std::size_t observations) {
    return std::to_string(diagnoses + observations) + " (" + Plural(diagnoses, "diagnosis", "diagnoses") + ", " +
           Plural(observations, "observation", "observations") + ")";
  }

  void OverallResult(const std::string& verdict) {
    Raw("<header id=\"overall\" class=\"result " + std::string(data.passed ? "pass" : "fail") + "\">\n")
        .Raw("<h1>Overall Result: <span class=\"verdict\">" + verdict + "</span></h1>\n<dl class=\"facts\">\n");
    if (!time_shown_.empty()) {
      Raw("<dt>Time</dt><dd><time datetime=\"" + time_iso_ + "\">" + time_shown_ + "</time></dd>\n");
    }
    if (!data.nodefile.empty()) Fact("Node file", data.nodefile);
    if (!data.command_line.empty()) {
      Raw("<dt>Command line</dt><dd><code>").Text(data.command_line).Raw("</code></dd>\n");
    }
    Fact("Issues contributing to FAIL", Breakdown(facts_->failing_diagnoses, facts_->failing_observations));
    Fact("Other issues", Breakdown(facts_->other_diagnoses, facts_->other_observations));
    const std::string level = strings_.get_severity_string(data.fail_level);
    Fact("FAIL level", (level.empty() ? std::string() : level + ", ") + "severity " + std::to_string(data.fail_level) +
                           " and above" + (data.fail_level_set ? "" : " (default)"));
    Raw("<dt>Nodes tested</dt><dd>");
    Nodes(TestedNodes());
    Raw("</dd>\n");
    const bool filtered = data.include_nodes && !data.include_nodes->empty();
    if (!filtered && !data.passed) {
      Raw("<dt>Nodes with issues found</dt><dd>");
      Nodes(facts_->nodes_with_issues);
      Raw("</dd>\n");
    }
    const std::size_t skipped = facts_->skipped_definitions.size();
    if (skipped > 0) Fact("Framework Definitions skipped", std::to_string(skipped));
    if (facts_->suppressed > 0) Fact("Issues not shown (suppressed)", std::to_string(facts_->suppressed));
    Raw("</dl>\n");

    // Collapsed issues by severity group, split by their FAIL contribution.
    Raw("<div class=\"scroll\"><table id=\"severity-counts\">\n<caption>Issues by severity group</caption>\n"
        "<thead><tr><th scope=\"col\">Severity group</th><th scope=\"col\">Counts to FAIL</th>"
        "<th scope=\"col\">Diag\u00ADnoses</th><th scope=\"col\">Obser\u00ADvations</th><th scope=\"col\">Total</th>"
        "</tr></thead>"
        "\n<tbody>\n");
    for (const auto& group : facts_->groups) {
      if (group.total() == 0) continue;
      const std::string name = qorv::str::upper(group.name);
      Raw("<tr><th scope=\"row\"><span class=\"badge " + name + "\">" + name + "</span></th><td>" +
          (group.contributes_to_fail ? "yes" : "no") + "</td><td class=\"num\">" + std::to_string(group.diagnoses) +
          "</td><td class=\"num\">" + std::to_string(group.observations) + "</td><td class=\"num\">" +
          std::to_string(group.total()) + "</td></tr>\n");
    }
    Raw("</tbody>\n</table></div>\n</header>\n");
  }

  void Contents() {
    Raw("<nav class=\"toc\" aria-label=\"Contents\"><ul>"
        "<li><a href=\"#summary\">Summary</a></li><li><a href=\"#node-counts\">Nodes</a></li>");
    if (ShowNodeGroups()) Raw("<li><a href=\"#node-groups\">Node groups</a></li>");
    Raw("<li><a href=\"#categories\">Issues</a></li>");
    if (ListedIssues(kInformationalCategory) > 0) Raw("<li><a href=\"#informational\">Information</a></li>");
    Raw("<li><a href=\"#runtime-errors\">Runtime errors</a></li>"
        "<li><a href=\"#dependencies\">Dependencies</a></li></ul></nav>\n");
  }

  // Hidden until the script shows them: without a script they could not work.
  void Filters() {
    std::set<std::string> present;
    for (const auto& issue : categories_->GetAllIssues()) present.insert(GroupOf(*issue));
    Raw("<form id=\"filters\" class=\"controls\" role=\"search\" aria-label=\"Filter issues\" hidden>\n");
    Raw("<label for=\"node-filter\">Show issues on nodes</label>"
        "<input id=\"node-filter\" type=\"search\" autocomplete=\"off\" spellcheck=\"false\" "
        "placeholder=\"node[1-4],login1\" aria-describedby=\"filter-status\">\n"
        "<label for=\"node-partial\"><input type=\"checkbox\" id=\"node-partial\"> part of a name</label>\n"
        "<fieldset><legend>Severity</legend>\n");
    std::vector<std::string> groups(std::begin(kGroups), std::end(kGroups));
    if (present.count(kNoGroup) != 0) groups.push_back(kNoGroup);
    for (const auto& group : groups) {
      const std::string id = "severity-" + qorv::str::lower(group);
      Raw("<label for=\"" + id + "\"><input type=\"checkbox\" id=\"" + id + "\" value=\"" + group +
          "\" data-severity-toggle checked> " + group + "</label>\n");
    }
    Raw("</fieldset>\n</form>\n<p id=\"filter-status\" role=\"status\" aria-live=\"polite\"></p>\n");
  }

  // The run's Framework Definitions; none when the host gave no record.
  const qorv::FWDAttributes& Definitions() const {
    static const qorv::FWDAttributes kNone;
    return data.fwd_attributes ? *data.fwd_attributes : kNone;
  }

  std::vector<std::string> TestedNodes() const {
    std::vector<std::string> names;
    if (data.nodes) {
      for (const auto& node : *data.nodes) names.push_back(node.name);
    }
    return names;
  }

  std::string GroupOf(const CollapsedAnalysisOutput& issue) {
    const std::string group = strings_.get_severity_string(issue.get_severity());
    return group.empty() ? kNoGroup : group;
  }

  void Summary() {
    Raw("<section id=\"summary\">\n<h2>Summary</h2>\n");
    if (data.include_nodes && !data.include_nodes->empty()) {
      Raw("<div class=\"warning-note\">All output is filtered to show only the results of these nodes: ");
      Nodes(*data.include_nodes);
      Raw("</div>\n");
    }
    Raw("<dl class=\"facts\">\n");
    std::string tests;
    for (const auto& root : Definitions().roots) {
      if (!root || !root->fwd) continue;
      tests += (tests.empty() ? "" : ", ") + strings_.get_short_name(root->fwd->path);
    }
    Fact("Tests run", tests.empty() ? "none" : tests);
    const std::size_t failed = facts_->tests_failed_to_run;
    // Whether a warnings log was written beside this page is not the page's
    // to know; its own runtime errors section lists the same tests.
    if (failed == 0) {
      Fact("Tests that failed to run", "none");
    } else {
      Raw("<dt>Tests that failed to run</dt><dd>" + std::to_string(failed) +
          ". Information may be incomplete: see <a href=\"#runtime-errors\">Runtime errors</a>.</dd>\n");
    }
    Fact("Overall result", facts_->OverallResult());
    Raw("</dl>\n</section>\n");
  }

  void Validation() {
    const auto verdicts = qorv::postprocessor::UtilityFunctions().get_validation(Definitions().roots);
    if (verdicts.empty()) return;
    Raw("<section id=\"validation\">\n<h2>Validation</h2>\n");
    for (const char* verdict : {"PASS", "FAIL"}) {
      std::vector<std::string> names;
      for (const auto& [name, result] : verdicts) {
        if (result == verdict) names.push_back(name);
      }
      if (names.empty()) continue;
      const std::string kind = verdict == std::string("PASS") ? "pass" : "fail";
      Raw("<h3 class=\"" + kind + "\">Validation " + (kind == "pass" ? "passed" : "failed") + "</h3>\n<ul class=\"" +
          kind + "\">\n");
      for (const auto& name : names) Element("li", name).Raw("\n");
      Raw("</ul>\n");
    }
    Raw("</section>\n");
  }

  void NodeCounts() {
    const auto& tested = facts_->tested_nodes;
    const auto& with_issues = facts_->nodes_with_issues;
    const auto& without_issues = facts_->nodes_without_issues;
    Raw("<section id=\"node-counts\">\n<h2>Nodes</h2>\n<div class=\"scroll\"><table>\n<tbody>\n");
    const auto row = [&](const char* label, const std::set<std::string>& nodes) {
      Raw("<tr><th scope=\"row\">" + std::string(label) + "</th><td class=\"num\">" + std::to_string(nodes.size()) +
          "</td><td>");
      Nodes(nodes);
      Raw("</td></tr>\n");
    };
    row("Tested", tested);
    if (!data.include_nodes || data.include_nodes->empty()) {
      row("With no issues", without_issues);
      row("With issues", with_issues);
    }
    Raw("</tbody>\n</table></div>\n</section>\n");
  }

  bool ShowNodeGroups() const {
    return data.node_groups && !data.node_groups->empty() && !data.default_subcluster_only;
  }

  void NodeGroups() {
    if (!ShowNodeGroups()) return;
    Raw("<section id=\"node-groups\">\n<h2>Node groups</h2>\n"
        "<p>Quorvane completed analysis with the following groups:</p>\n");
    for (const bool automatic : {false, true}) {
      std::vector<std::shared_ptr<qorv::ClusterDefinition>> shown;
      std::size_t invalid = 0;
      for (const auto& [name, group] : *data.node_groups) {
        if (!group || group->automatic != automatic) continue;
        if (group->is_valid_data()) {
          shown.push_back(group);
        } else if (!automatic) {
          ++invalid;
        }
      }
      if (shown.empty() && invalid == 0) continue;
      if (automatic) {
        Raw("<h3>Automatically Configured Groups</h3>\n"
            "<p>with the remaining nodes, not listed in User-Configured Groups</p>\n");
      } else {
        Raw("<h3>User-Configured Groups</h3>\n");
        if (!data.node_groups_file.empty()) {
          Raw("<p>Defined in <code>").Text(data.node_groups_file).Raw("</code></p>\n");
        }
      }
      for (const auto& group : shown) NodeGroup(*group);
      if (invalid > 0) {
        Raw("<p class=\"warning-note\">Node Group Analysis could not be performed for " +
            Plural(invalid, "User-Configured Group", "User-Configured Groups") + "</p>\n");
      }
    }
    Raw("</section>\n");
  }

  void NodeGroup(const qorv::ClusterDefinition& group) {
    Raw("<details class=\"group\" open><summary>Group <strong>").Text(group.name).Raw("</strong></summary>\n");
    Raw("<dl class=\"facts\">\n");
    if (group.automatic && group.name != "All" && !group.excluded_groups.empty()) {
      std::string excluded;
      for (const auto& name : group.excluded_groups) excluded += (excluded.empty() ? "" : ", ") + ("\"" + name + "\"");
      Fact("Description", "All nodes excluding groups " + excluded);
    }
    Raw("<dt>Nodes</dt><dd>");
    const auto nodes = group.get_node_names();
    if (nodes.empty()) {
      Text("No nodes found on the system for this node group");
    } else {
      Nodes(nodes);
    }
    Raw("</dd>\n");
    const auto tests = group.get_root_fwd_names();
    if (!tests.empty()) {
      Raw("<dt>Tests</dt><dd><ul>");
      for (const auto& test : tests) {
        Raw("<li>").Text(test);
        const auto exclusions = group.test_exclusions.find(test);
        if (exclusions != group.test_exclusions.end() && !exclusions->second.empty()) {
          Raw(" (excluding ");
          Nodes(exclusions->second);
          Raw(")");
        }
        Raw("</li>");
      }
      Raw("</ul></dd>\n");
    }
    Raw("</dl>\n</details>\n");
  }

  // --- Categories ----------------------------------------------------------

  // Issues on nodes outside every node group are filed under "", which is
  // no subcluster; the text report never lists them, which loses them.
  // Here they get a block of their own, apart from the run's counts.
  std::shared_ptr<const CategoryMap::IssueVector> Ungrouped(const std::string& category) const {
    const auto found = categories_->issue_map.find({category, ""});
    if (found == categories_->issue_map.end() || !found->second || categories_->GetSubclusters().count("") != 0) {
      return std::make_shared<const CategoryMap::IssueVector>();
    }
    return found->second;
  }

  // The category's issues in the run's node groups, as the run counts them,
  // and those listed besides.
  std::size_t ListedIssues(const std::string& category) const {
    return categories_->GetNumIssuesInSubclusters(category) + Ungrouped(category)->size();
  }

  void Category(const std::string& category) {
    std::string title = category;
    std::string introduction = "The following " + qorv::str::lower(category) + " issues were detected:";
    if (category == kErrorCategory) {
      title = "Runtime errors";
      introduction = "Quorvane encountered the following errors during execution:";
    } else if (category == kInformationalCategory) {
      title = "Additional information";
      introduction = "The following additional information was detected:";
    }
    // The runtime errors and the additional information are sections of
    // their own; the other categories are parts of the issue section.
    const std::string heading = category == kErrorCategory || category == kInformationalCategory ? "h2" : "h3";
    Raw("<details class=\"category\"" + Open() + " id=\"category-" + std::to_string(++sections_) + "\"><summary><" +
        heading + ">")
        .Text(title)
        .Raw("</" + heading + "> ")
        .Count(categories_->GetNumIssuesInSubclusters(category))
        .Raw("</summary>\n");
    if (ListedIssues(category) == 0) {
      Raw("<p class=\"none\">No issues detected.</p>\n</details>\n");
      return;
    }
    Element("p", introduction).Raw("\n");
    const auto subclusters = categories_->GetSubclusters();
    // Groups without issues in the category are named on one line after
    // the others: their names and "the remaining nodes" when it is one.
    std::vector<std::string> empty;
    bool remaining_empty = false;
    const auto block = [&](const std::string& subcluster, const std::string& title) {
      if (!categories_->GetIssuesByCategory(category, subcluster)->empty()) {
        Block(category, subcluster, title, subclusters.count(subcluster) != 0);
      } else if (data.default_subcluster_only && subcluster == kDefaultSubcluster) {
        remaining_empty = true;
      } else {
        empty.push_back(subcluster);
      }
    };
    if (subclusters.size() < 2) {
      const std::string subcluster = subclusters.empty() ? std::string() : *subclusters.begin();
      if (categories_->GetIssuesByCategory(category, subcluster)->empty()) {
        Raw("<p class=\"none\">No issues detected.</p>\n");
      } else {
        Issues(category, subcluster, subclusters.count(subcluster) != 0);
      }
    } else if (data.default_subcluster_only) {
      for (const auto& subcluster : subclusters) {
        if (subcluster != kDefaultSubcluster) block(subcluster, "Subcluster \"" + subcluster + "\"");
      }
      if (subclusters.count(kDefaultSubcluster) != 0) block(kDefaultSubcluster, "Remaining Nodes");
    } else {
      // The groups of all nodes come after the groups they are made of.
      for (const bool all : {false, true}) {
        for (const auto& group : subclusters) {
          if ((group.find("All") != std::string::npos) == all) block(group, "Group \"" + group + "\"");
        }
      }
    }
    if (!empty.empty() || remaining_empty) {
      const std::string kind = data.default_subcluster_only ? "subcluster" : "group";
      Raw("<p class=\"none empty-groups\">No issues in ");
      if (!empty.empty()) Raw(kind + (empty.size() == 1 ? " " : "s "));
      for (std::size_t i = 0; i < empty.size(); ++i) {
        const bool last = i + 1 == empty.size() && !remaining_empty;
        Raw(i == 0 ? "" : last ? " and " : ", ").Raw("&quot;").Text(empty[i]).Raw("&quot;");
      }
      if (remaining_empty) Raw(empty.empty() ? "the remaining nodes" : " or the remaining nodes");
      Raw(".</p>\n");
    }
    if (!subclusters.empty() && !Ungrouped(category)->empty()) Block(category, "", "Not in any node group", false);
    Raw("</details>\n");
  }

  // " open" on the folds of a small report.
  std::string Open() const { return large_ ? "" : " open"; }

  // The number of issues of a fold, which the script replaces by the number
  // the filters leave of it.
  HtmlReport& Count(std::size_t count) {
    return Raw("<span class=\"count\" data-total=\"" + std::to_string(count) + "\">(" +
               Plural(count, "issue", "issues") + ")</span>");
  }

  void Block(const std::string& category, const std::string& subcluster, const std::string& title, bool counted) {
    const auto issues = categories_->GetIssuesByCategory(category, subcluster);
    Raw("<details class=\"block\"" + Open() + "><summary>").Text(title).Raw(" ").Count(issues->size());
    Raw("</summary>\n");
    if (data.default_subcluster_only) {
      Raw("<div>Nodes: ");
      Nodes(categories_->GetNodesInSubcluster(subcluster));
      Raw("</div>\n");
    }
    Issues(category, subcluster, counted);
    Raw("</details>\n");
  }

  // An issue list, numbered for the data block. counted: its issues count
  // toward the category's number (they are in a node group of the run).
  void Issues(const std::string& category, const std::string& subcluster, bool counted) {
    const auto issues = categories_->GetIssuesByCategory(category, subcluster);
    const std::size_t first = listed_.size();
    Raw("<div class=\"issue-list\" data-list=\"" + std::to_string(lists_.size()) + "\">\n");
    std::size_t index = 0;
    for (const auto& issue : *issues) {
      if (!issue) continue;
      if (index == 0 || (large_ && index % kChunk == 0)) {
        if (index > 0) Raw("</ol>\n</noscript>\n");
        const std::string start = index == 0 ? "" : " start=\"" + std::to_string(index + 1) + "\"";
        Raw(large_ ? "<noscript>\n" : "").Raw("<ol class=\"issues\"" + start + ">\n");
      }
      Issue(*issue);
      ++index;
    }
    if (index > 0) Raw(large_ ? "</ol>\n</noscript>\n" : "</ol>\n");
    Raw("</div>\n");
    lists_.push_back({listed_.size() - first, counted});
  }

  void Issue(CollapsedAnalysisOutput& issue) {
    const bool table = issue.is_table && issue.table.IsValid() && !issue.table.empty();
    const std::string group = GroupOf(issue);
    listed_.push_back({&issue, SeverityIndex(group)});
    Raw("<li class=\"issue\" data-severity=\"" + group + "\">\n");
    const std::string id =
        table ? qorv::postprocessor::UtilityFunctions().get_usable_id(issue.get_id()) : issue.get_id();
    Raw("<div><span class=\"issue-id mono\">")
        .Text(id)
        .Raw("</span> <span class=\"badge " + group + "\">" + group + "</span></div>\n<dl class=\"facts\">\n");
    const auto* first = issue.issues.empty() ? nullptr : issue.issues.front().get();
    if (!issue.get_message().empty()) {
      Raw("<dt>Message</dt><dd class=\"message\">").Text(strings_.remove_endl(issue.get_message())).Raw("</dd>\n");
    }
    if (first && !first->remedy.empty()) {
      Raw("<dt>Remedy</dt><dd class=\"message\">").Text(strings_.remove_endl(first->remedy)).Raw("</dd>\n");
    }
    Raw("<dt>" + Plural(issue.nodes.size(), "node", "nodes") + "</dt><dd>");
    Nodes(issue.nodes);
    Raw("</dd>\n");
    if (!issue.fwds.empty()) {
      std::string tests;
      for (const auto& fwd : issue.fwds) tests += (tests.empty() ? "" : ", ") + strings_.get_short_name(fwd);
      Fact(issue.fwds.size() == 1 ? "Test" : "Tests", tests);
    }
    Raw("</dl>\n");
    if (table) Table(issue.table);
    Raw("</li>\n");
  }

  // A table message's rows: the node count, the data cells and the nodes.
  void Table(const qorv::postprocessor::Table& table) {
    Raw("<div class=\"scroll\"><table class=\"details\">\n<caption>Details</caption>\n<thead><tr>");
    for (const auto& header : table.GetHeaders()) Element("th", header, " scope=\"col\"");
    Raw("</tr></thead>\n<tbody>\n");
    for (const auto& row : table.GetRows()) {
      const auto cells = row.GetData();
      Raw("<tr>");
      for (std::size_t i = 0; i < cells.size(); ++i) {
        if (i == 0) {
          Element("td", cells[i], " class=\"num\"");
        } else if (i + 1 == cells.size()) {
          Raw("<td>");
          Nodes(row.GetNodes());
          Raw("</td>");
        } else {
          Element("td", cells[i]);
        }
      }
      Raw("</tr>\n");
    }
    Raw("</tbody>\n</table></div>\n");
  }

  // --- Framework Definitions and the closing block ------------------------

  // One nested list per root, from the same tree lines the text tree is
  // drawn from: a line's depth is its number of flags less one.
  void Trees() {
    Raw("<section id=\"dependencies\">\n<h2>Framework Definition dependencies</h2>\n");
    const auto& roots = Definitions().roots;
    if (roots.empty()) Raw("<p class=\"none\">No Framework Definitions.</p>\n");
    for (const auto& root : roots) {
      if (!root) continue;
      const qorv::FwdNode& node = root->fwd && root->fwd->node ? *root->fwd->node : *root;
      Raw("<ul class=\"tree\">");
      std::size_t depth = 0;
      bool open = false;
      for (const auto& [name, flags] : node.create_tree({}, true)) {
        const std::size_t level = flags.empty() ? 0 : flags.size() - 1;
        if (!open) {
          open = true;
        } else if (level > depth) {
          for (; depth < level; ++depth) Raw(depth + 1 < level ? "<ul><li>" : "<ul>");
        } else {
          Raw("</li>");
          for (; depth > level; --depth) Raw("</ul></li>");
        }
        depth = level;
        // The last flag says whether the node is the final one of its siblings.
        Raw(!flags.empty() && flags.back() ? "<li class=\"last\">" : "<li>").Text(name);
      }
      if (open) Raw("</li>");
      for (; depth > 0; --depth) Raw("</ul></li>");
      Raw("</ul>\n");
    }
    Raw("</section>\n");
  }

  // The run's time, "2026-02-03 07:05:09 UTC" and its ISO form; none for a
  // time gmtime cannot convert or a year beyond four digits.
  void Time() {
    std::tm time{};
    char iso[32];
    char shown[64];
    if (::gmtime_r(&data.timestamp, &time) != nullptr && time.tm_year >= -1900 && time.tm_year <= 9999 - 1900 &&
        std::strftime(iso, sizeof iso, "%Y-%m-%dT%H:%M:%SZ", &time) != 0 &&
        std::strftime(shown, sizeof shown, "%Y-%m-%d %H:%M:%S UTC", &time) != 0) {
      time_iso_ = iso;
      time_shown_ = shown;
    }
  }

  void Closing() {
    Raw("<footer id=\"closing\">\n<dl class=\"facts\">\n");
    Fact("Report", std::string(qorv::postprocessor::kProductName) + " " + qorv::postprocessor::kProductVersion);
    if (!time_shown_.empty()) {
      Raw("<dt>Time</dt><dd><time datetime=\"" + time_iso_ + "\">" + time_shown_ + "</time></dd>\n");
    }
    if (!data.nodefile.empty()) Fact("Nodefile used", data.nodefile);
    std::string databases;
    for (const auto& database : data.databases) {
      databases += (databases.empty() ? "" : ", ") + qorv::str::fstrip(qorv::str::rstrip(database, "\""), "\"");
    }
    Fact("Databases used", databases.empty() ? "none" : databases);
    Raw("</dl>\n</footer>\n");
  }

  // The filter's data, as JSON in an inert script element:
  //   severities  the names of the severity groups, kNoGroup last
  //   large       whether the issue lists stand in <noscript> chunks
  //   chunk       issues per chunk
  //   nodes       the node names of the listed issues as the page shows
  //               them, sorted, each once
  //   lists       per issue list (data-list), its number of issues and
  //               whether they count toward their category's number (1, 0)
  //   issues      per listed issue in page order, the lists' issues one
  //               after the other: its severity group and its nodes, as
  //               indexes into severities and nodes
  void DataBlock() {
    std::map<std::string, std::size_t> ids;
    for (const auto& listed : listed_) {
      for (const auto& node : listed.issue->nodes) ids.emplace(Clean(node, false), 0);
    }
    std::string out = "<script type=\"application/json\" id=\"report-data\">{\"severities\":[";
    for (const char* group : kGroups) out += "\"" + std::string(group) + "\",";
    out += "\"" + std::string(kNoGroup) + "\"],\"large\":" + (large_ ? "true" : "false") +
           ",\"chunk\":" + std::to_string(kChunk) + ",\"nodes\":[";
    std::size_t next = 0;
    for (auto& [name, id] : ids) {
      if (next > 0) out += ',';
      AppendJson(out, name);
      id = next++;
    }
    out += "],\"lists\":[";
    for (std::size_t i = 0; i < lists_.size(); ++i) {
      out += (i == 0 ? "[" : ",[") + std::to_string(lists_[i].count) + (lists_[i].counted ? ",1]" : ",0]");
    }
    Raw(out).Raw("],\"issues\":[");
    for (std::size_t i = 0; i < listed_.size(); ++i) {
      std::string& row = file_->Out();
      row += (i == 0 ? "[" : ",[") + std::to_string(listed_[i].severity);
      for (const auto& node : listed_[i].issue->nodes) {
        row += ',';
        row += std::to_string(ids.at(Clean(node, false)));
      }
      row += ']';
    }
    Raw("]}</script>\n");
  }

  qorv::postprocessor::StringInterface strings_;
  std::shared_ptr<const CategoryMap> categories_;
  std::shared_ptr<const qorv::postprocessor::RunFacts> facts_;
  AtomicFileWriter* file_ = nullptr;  // the page being written, while run() writes it
  int sections_ = 0;
  bool large_ = false;  // more than kLargeReport issues listed
  std::string time_iso_;
  std::string time_shown_;
  // The listed issues in page order, with their severity group's index.
  struct Listed {
    const CollapsedAnalysisOutput* issue;
    std::size_t severity;
  };
  std::vector<Listed> listed_;
  // The issue lists: their numbers of issues, and whether those count
  // toward their category's number.
  struct List {
    std::size_t count;
    bool counted;
  };
  std::vector<List> lists_;
};

}  // namespace

extern "C" QORV_EXPORT PostprocessorExtension* create(PostprocessorExtensionData& data) { return new HtmlReport(data); }
