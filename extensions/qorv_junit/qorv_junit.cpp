// qorv_junit: the run's results as JUnit XML for CI servers, written to
// "<results log name>.junit.xml" beside the results log (docs/junit-xml.md;
// docs/qorv-junit.xsd checks it).
//
// One testsuite per Framework Definition, one testcase per node the
// definition tested. A definition's issues are those of the definition and
// of every definition it depends on, as its verdict counts them (the
// latter only on the definition's nodes). On a node,
// a test that could not run makes an <error>, issues contributing to FAIL
// a <failure>, a skipped definition <skipped>; the other issues are the
// case's <system-out>. A case holds at most one of error, failure and
// skipped, so every reader counts the same.
#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "extensions/common/publish_result_file.h"
#include "extensions/common/severity_group.h"
#include "extensions/common/utc_time.h"
#include "extensions/qorv_junit/xml_text.h"
#include "postprocessor/collapse/category_map.h"
#include "postprocessor/collapse/collapsed_analysis_output.h"
#include "postprocessor/postprocessor_extension.h"
#include "postprocessor/run_facts.h"
#include "postprocessor/text/string_interface.h"
#include "postprocessor/version.h"

namespace {

using qorv::extensions::AtomicFileWriter;
using qorv::junit_report::AppendXmlText;
using qorv::postprocessor::CollapsedAnalysisOutput;
using qorv::postprocessor::PostprocessorExtension;
using qorv::postprocessor::PostprocessorExtensionData;
using qorv::postprocessor::StringInterface;

// Holds the issues that belong to no Framework Definition, and the run's
// verdict when nothing else shows it.
constexpr char kNoDefinitionSuite[] = "(no Framework Definition)";
constexpr char kVerdictCase[] = "verdict";

// What an issue makes of a test case, most serious first.
enum class Kind { kError, kFailure, kOther };

struct Finding {
  const CollapsedAnalysisOutput* issue;
  Kind kind;
  std::string group;    // severity group, upper case; "" outside 0..100
  std::string details;  // its text block, made once: every case on its nodes repeats it
};

struct TestCase {
  std::string name;
  std::vector<const Finding*> findings;  // most serious first (SortFindings)
  std::string verdict;                   // a failure of its own: the definition or the run failed
};

struct Suite {
  std::string name;
  std::vector<std::pair<std::string, std::string>> properties;
  bool skipped = false;
  std::vector<TestCase> cases;
};

// What a test case reports, the one result element it holds.
enum class Outcome { kVerdictFailure, kError, kFailure, kSkipped, kNone };

struct Counts {
  std::size_t tests = 0, failures = 0, errors = 0, skipped = 0;

  void Add(Outcome outcome) {
    ++tests;
    if (outcome == Outcome::kVerdictFailure || outcome == Outcome::kFailure) ++failures;
    if (outcome == Outcome::kError) ++errors;
    if (outcome == Outcome::kSkipped) ++skipped;
  }
  void Add(const Counts& other) {
    tests += other.tests;
    failures += other.failures;
    errors += other.errors;
    skipped += other.skipped;
  }
};

void Attribute(std::string& out, const char* name, std::string_view value) {
  out.append(" ").append(name).append("=\"");
  AppendXmlText(out, value, true);
  out.append("\"");
}

bool Has(const TestCase& test, Kind kind) {
  return std::any_of(test.findings.begin(), test.findings.end(), [kind](const Finding* f) { return f->kind == kind; });
}

bool IsRed(const TestCase& test) {
  return !test.verdict.empty() || Has(test, Kind::kError) || Has(test, Kind::kFailure);
}

// The counts in the suites' and the document's attributes and the elements
// of the cases both come from here, so they always agree.
Outcome Classify(const Suite& suite, const TestCase& test) {
  if (!test.verdict.empty()) return Outcome::kVerdictFailure;
  if (Has(test, Kind::kError)) return Outcome::kError;
  if (Has(test, Kind::kFailure)) return Outcome::kFailure;
  return suite.skipped ? Outcome::kSkipped : Outcome::kNone;
}

// Errors, then failures, then the other findings, each by severity, most
// severe first; the first red one gives the case's result element.
void SortFindings(std::vector<const Finding*>& findings) {
  std::stable_sort(findings.begin(), findings.end(), [](const Finding* a, const Finding* b) {
    if (a->kind != b->kind) return a->kind < b->kind;
    return a->issue->get_severity() > b->issue->get_severity();
  });
}

// The dependency graph of the definitions, for the two questions the
// suites ask: which definitions reach the ones an issue names, and whether
// one definition reaches another. Walks answer them; a reach set per
// definition would grow with the square of a chain's depth.
class Dependencies {
 public:
  explicit Dependencies(const qorv::FWDAttributes& attributes) : attributes_(attributes) {
    std::unordered_set<const qorv::FwdNode*> seen;
    std::vector<const qorv::FwdNode*> pending;
    for (const auto& [name, fwd] : attributes.fwds) {
      if (!fwd) continue;
      index_.emplace(name, definitions_.size());
      definitions_.emplace_back(&name, fwd.get());
      if (fwd->node) {
        owners_[fwd->node.get()].push_back(definitions_.size() - 1);
        if (seen.insert(fwd->node.get()).second) pending.push_back(fwd->node.get());
      }
    }
    // Each node reached, its parents, and the nodes standing for each name
    // below another definition.
    std::unordered_set<const qorv::FwdNode*> below;
    while (!pending.empty()) {
      const qorv::FwdNode* node = pending.back();
      pending.pop_back();
      for (const auto& group : node->dependencies) {
        for (const auto& child : group) {
          if (!child || !child->fwd) continue;
          parents_[child.get()].push_back(node);
          if (below.insert(child.get()).second) named_[child->fwd->name].push_back(child.get());
          if (seen.insert(child.get()).second) pending.push_back(child.get());
        }
      }
    }
  }

  // The definitions with a Fwd, in name order.
  std::size_t size() const { return definitions_.size(); }
  const std::string& Name(std::size_t d) const { return *definitions_[d].first; }
  const qorv::Fwd* Definition(std::size_t d) const { return definitions_[d].second; }
  bool Has(const std::string& name) const { return index_.count(name) != 0; }

  // The definitions, ascending, that are one of names or reach one of them
  // through their dependencies.
  std::vector<std::size_t> Reaching(const std::set<std::string>& names) const {
    std::vector<std::size_t> found;
    std::unordered_set<const qorv::FwdNode*> visited;
    std::vector<const qorv::FwdNode*> pending;
    auto up = [&](const qorv::FwdNode* node) {
      const auto parents = parents_.find(node);
      if (parents == parents_.end()) return;
      for (const auto* parent : parents->second) {
        if (visited.insert(parent).second) pending.push_back(parent);
      }
    };
    for (const auto& name : names) {
      if (const auto d = index_.find(name); d != index_.end()) found.push_back(d->second);
      if (const auto nodes = named_.find(name); nodes != named_.end()) {
        for (const auto* node : nodes->second) up(node);
      }
    }
    while (!pending.empty()) {
      const qorv::FwdNode* node = pending.back();
      pending.pop_back();
      if (const auto owners = owners_.find(node); owners != owners_.end()) {
        found.insert(found.end(), owners->second.begin(), owners->second.end());
      }
      up(node);
    }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
  }

  // Whether the definition from reaches the definition to through its
  // dependencies; a definition unknown or without a Fwd reaches nothing.
  bool Reaches(const std::string& from, const std::string& to) {
    const auto known = reach_.find(from);
    if (known != reach_.end()) return known->second.count(to) != 0;
    std::set<std::string>& reach = reach_[from];
    const auto entry = attributes_.fwds.find(from);
    if (entry == attributes_.fwds.end()) return false;
    reach.insert(from);
    std::vector<const qorv::FwdNode*> pending;
    if (entry->second && entry->second->node) pending.push_back(entry->second->node.get());
    while (!pending.empty()) {
      const auto* node = pending.back();
      pending.pop_back();
      for (const auto& group : node->dependencies) {
        for (const auto& child : group) {
          if (child && child->fwd && reach.insert(child->fwd->name).second) pending.push_back(child.get());
        }
      }
    }
    return reach.count(to) != 0;
  }

 private:
  const qorv::FWDAttributes& attributes_;
  std::vector<std::pair<const std::string*, const qorv::Fwd*>> definitions_;
  std::unordered_map<std::string_view, std::size_t> index_;
  std::unordered_map<const qorv::FwdNode*, std::vector<std::size_t>> owners_;
  std::unordered_map<const qorv::FwdNode*, std::vector<const qorv::FwdNode*>> parents_;
  std::unordered_map<std::string_view, std::vector<const qorv::FwdNode*>> named_;
  std::map<std::string, std::set<std::string>> reach_;  // of the definitions asked about
};

class JunitReport : public PostprocessorExtension {
 public:
  using PostprocessorExtension::PostprocessorExtension;

  int run() override {
    CollectFindings();
    const std::vector<Suite> suites = BuildSuites();
    return qorv::extensions::PublishResultFile(data.output_file, ".junit.xml", "JUnit XML results",
                                               [&](AtomicFileWriter& file) { Write(file, suites); });
  }

 private:
  // --- What the run found ----------------------------------------------------

  // The collapsed issues of the severity collapse, failures those of the
  // groups that contribute to FAIL, and the tests that could not run (the
  // "ERROR" issues of the run's node groups), as the run's facts count them.
  void CollectFindings() {
    const auto facts = qorv::postprocessor::RunFacts::Of(data);
    std::map<std::string, bool> failing;  // severity group name to whether it contributes
    for (const auto& group : facts->groups) failing[group.name] = group.contributes_to_fail;
    if (data.collapsed_by_type) {
      for (const auto& [key, issues] : *data.collapsed_by_type) {
        const auto* group = qorv::extensions::SeverityGroupOfKey(key);
        const std::string name = group ? strings_.get_severity_string(std::get<0>(group->second)) : std::string();
        const Kind kind = group && failing[group->first] ? Kind::kFailure : Kind::kOther;
        for (const auto& issue : issues) {
          if (issue) findings_.push_back({issue.get(), kind, name, ""});
        }
      }
    }
    categories_ = qorv::postprocessor::CategoryMap::OfRun(data, true);
    for (const auto& subcluster : categories_->GetSubclusters()) {
      const auto errors = categories_->GetIssuesByCategory(qorv::postprocessor::kErrorCategory, subcluster);
      for (const auto& issue : *errors) {
        if (issue)
          findings_.push_back({issue.get(), Kind::kError, strings_.get_severity_string(issue->get_severity()), ""});
      }
    }
    tested_ = facts->tested_nodes;
    for (auto& finding : findings_) finding.details = Block(finding);
  }

  // The tested nodes of the node groups that run the definition (one of
  // their root definitions reaches it); all tested nodes when no group
  // names it.
  std::set<std::string> NodesOf(const std::string& name, Dependencies& dependencies,
                                const std::set<std::string>& tested) const {
    std::set<std::string> nodes;
    bool named = false;
    if (data.node_groups) {
      for (const auto& [group_name, group] : *data.node_groups) {
        if (!group) continue;
        for (const auto& root : group->get_root_fwd_names()) {
          if (root != name && !dependencies.Reaches(root, name)) continue;
          named = true;
          for (const auto& node : group->get_node_names()) {
            if (tested.count(node) != 0) nodes.insert(node);
          }
        }
      }
    }
    return named ? nodes : tested;
  }

  // A case per node of the suite, ordered by name, then a case per finding
  // without nodes. The findings of the definition (all of them when it is
  // null) add the nodes they name; those of its dependencies show only on
  // the suite's nodes, since the groups that run it ran them there.
  static std::vector<TestCase> Cases(const std::string* definition, const std::set<std::string>& nodes,
                                     const std::vector<const Finding*>& findings) {
    // Cases are found through a hash of the node names (views into the
    // issues and the suite's node set, which outlive the call) and put in
    // name order once at the end: a million node entries would each cost a
    // search of an ordered map.
    std::vector<TestCase> cases;
    std::vector<bool> of_suite;  // the case is one of the suite's own nodes
    std::unordered_map<std::string_view, std::size_t> index;
    index.reserve(nodes.size());
    for (const auto& node : nodes) {
      index.emplace(node, cases.size());
      cases.push_back({node, {}, ""});
      of_suite.push_back(true);
    }
    std::vector<TestCase> nodeless;
    for (const auto* finding : findings) {
      const bool own = definition == nullptr || finding->issue->fwds.count(*definition) != 0;
      if (finding->issue->nodes.empty()) nodeless.push_back({finding->issue->get_id(), {finding}, ""});
      for (const auto& node : finding->issue->nodes) {
        auto found = index.find(node);
        if (!own && (found == index.end() || !of_suite[found->second])) continue;
        if (found == index.end()) {
          found = index.emplace(node, cases.size()).first;
          cases.push_back({node, {}, ""});
          of_suite.push_back(false);
        }
        cases[found->second].findings.push_back(finding);
      }
    }
    std::sort(cases.begin(), cases.end(), [](const TestCase& a, const TestCase& b) { return a.name < b.name; });
    for (auto& test : cases) SortFindings(test.findings);
    cases.reserve(cases.size() + nodeless.size());
    for (auto& test : nodeless) cases.push_back(std::move(test));
    return cases;
  }

  // A failed verdict that no case shows yet gets a case of its own, so a
  // CI server never shows green for a FAIL.
  static void AddVerdict(Suite& suite, bool passed, const std::string& message) {
    if (passed || std::any_of(suite.cases.begin(), suite.cases.end(), IsRed)) return;
    suite.cases.push_back({kVerdictCase, {}, message});
  }

  std::vector<Suite> BuildSuites() const {
    Dependencies dependencies(*data.fwd_attributes);
    const auto& tested = tested_;
    // A definition's findings are those of the definitions it reaches; a
    // finding of a definition belongs to no other suite than the ones that
    // reach it, which a walk up from its definitions finds.
    std::vector<std::vector<const Finding*>> findings_of(dependencies.size());
    std::vector<bool> assigned(findings_.size(), false);
    for (std::size_t i = 0; i < findings_.size(); ++i) {
      const auto& fwds = findings_[i].issue->fwds;
      for (std::size_t suite : dependencies.Reaching(fwds)) findings_of[suite].push_back(&findings_[i]);
      assigned[i] = std::any_of(fwds.begin(), fwds.end(), [&](const std::string& f) { return dependencies.Has(f); });
    }
    std::vector<Suite> suites;
    for (std::size_t d = 0; d < dependencies.size(); ++d) {
      const std::string& name = dependencies.Name(d);
      const qorv::Fwd* fwd = dependencies.Definition(d);
      Suite suite{name,
                  {{"verdict", fwd->pass ? "PASS" : "FAIL"}, {"path", fwd->path}},
                  fwd->skipped,
                  Cases(&name, NodesOf(name, dependencies, tested), findings_of[d])};
      if (!fwd->validation.empty()) suite.properties.emplace_back("validation", fwd->validation);
      AddVerdict(suite, fwd->pass, "Framework Definition " + name + " failed.");
      suites.push_back(std::move(suite));
    }

    Suite rest{kNoDefinitionSuite, {{"verdict", data.passed ? "PASS" : "FAIL"}}, false, {}};
    std::vector<const Finding*> unassigned;
    for (std::size_t i = 0; i < findings_.size(); ++i) {
      if (!assigned[i]) unassigned.push_back(&findings_[i]);
    }
    rest.cases = Cases(nullptr, {}, unassigned);
    bool red = false;
    for (const auto& suite : suites) red = red || std::any_of(suite.cases.begin(), suite.cases.end(), IsRed);
    AddVerdict(rest, data.passed || red, "The run failed.");
    if (!rest.cases.empty()) suites.push_back(std::move(rest));
    return suites;
  }

  // --- Writing ---------------------------------------------------------------

  // The document is streamed; the counts that open it and each suite come
  // from a first pass over the cases.
  void Write(AtomicFileWriter& file, const std::vector<Suite>& suites) const {
    const std::string time = qorv::extensions::UtcTime(data.timestamp, "%Y-%m-%dT%H:%M:%S");
    std::vector<Counts> counts(suites.size());
    Counts total;
    for (std::size_t i = 0; i < suites.size(); ++i) {
      for (const auto& test : suites[i].cases) counts[i].Add(Classify(suites[i], test));
      total.Add(counts[i]);
    }
    std::string& head = file.Out();
    head.append("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites");
    Attribute(head, "name", qorv::postprocessor::kProductName);
    Totals(head, total, time);
    head.append(">\n");
    for (std::size_t i = 0; i < suites.size(); ++i) {
      const Suite& suite = suites[i];
      std::string& out = file.Out();
      out.append("  <testsuite");
      Attribute(out, "name", suite.name);
      Totals(out, counts[i], time);
      out.append(">\n    <properties>\n");
      for (const auto& [name, value] : suite.properties) {
        out.append("      <property");
        Attribute(out, "name", name);
        Attribute(out, "value", value);
        out.append("/>\n");
      }
      out.append("    </properties>\n");
      const std::string skipped = "Framework Definition " + suite.name + " was skipped.";
      for (const auto& test : suite.cases) WriteCase(file.Out(), suite.name, skipped, test, Classify(suite, test));
      file.Append("  </testsuite>\n");
    }
    file.Append("</testsuites>\n");
  }

  // The counts, time 0 (the run data holds no durations) and the run's time.
  static void Totals(std::string& out, const Counts& counts, const std::string& time) {
    Attribute(out, "tests", std::to_string(counts.tests));
    Attribute(out, "failures", std::to_string(counts.failures));
    Attribute(out, "errors", std::to_string(counts.errors));
    Attribute(out, "skipped", std::to_string(counts.skipped));
    Attribute(out, "time", "0");
    if (!time.empty()) Attribute(out, "timestamp", time);
  }

  static void WriteCase(std::string& out, const std::string& suite, const std::string& skipped_message,
                        const TestCase& test, Outcome outcome) {
    const auto& findings = test.findings;
    const auto red_end =
        std::find_if(findings.begin(), findings.end(), [](const Finding* f) { return f->kind == Kind::kOther; });
    out.append("    <testcase");
    Attribute(out, "name", test.name);
    Attribute(out, "classname", suite);
    Attribute(out, "time", "0");
    if (findings.empty() && outcome == Outcome::kNone) {
      out.append("/>\n");
      return;
    }
    out.append(">\n");
    if (outcome == Outcome::kVerdictFailure) {
      OpenResult(out, "failure", test.verdict, "VERDICT");
      AppendXmlText(out, test.verdict, false);
      out.append("</failure>\n");
    } else if (outcome == Outcome::kError || outcome == Outcome::kFailure) {
      const Finding& first = *findings.front();
      const char* element = outcome == Outcome::kError ? "error" : "failure";
      OpenResult(out, element, first.issue->get_message(), outcome == Outcome::kError ? "ERROR" : first.group);
      AppendDetails(out, findings.begin(), red_end);
      out.append("</").append(element).append(">\n");
    } else if (outcome == Outcome::kSkipped) {
      out.append("      <skipped");
      Attribute(out, "message", skipped_message);
      out.append("/>\n");
    }
    if (red_end != findings.end()) {
      out.append("      <system-out>");
      AppendDetails(out, red_end, findings.end());
      out.append("</system-out>\n");
    }
    out.append("    </testcase>\n");
  }

  static void OpenResult(std::string& out, const char* element, std::string_view message, std::string_view type) {
    out.append("      <").append(element);
    Attribute(out, "message", message);
    Attribute(out, "type", type);
    out.append(">");
  }

  // The blocks of the findings, one a line after the other, escaped.
  static void AppendDetails(std::string& out, std::vector<const Finding*>::const_iterator begin,
                            std::vector<const Finding*>::const_iterator end) {
    for (auto it = begin; it != end; ++it) {
      if (it != begin) out.append("\n");
      AppendXmlText(out, (*it)->details, false);
    }
  }

  // An issue as a block: its severity group, kind and id, then its message,
  // remedy, nodes and definitions as the text reports print them.
  static std::string Block(const Finding& finding) {
    static const char* const kTypes[] = {"diagnosis", "observation", "run problem", "issue"};
    const auto& issue = *finding.issue;
    std::string text;
    text.append(finding.group.empty() ? "UNKNOWN SEVERITY" : finding.group)
        .append(" ")
        .append(kTypes[static_cast<int>(issue.type) & 3])
        .append(" ")
        .append(issue.get_id())
        .append(finding.kind == Kind::kError     ? ": the test could not run\n"
                : finding.kind == Kind::kFailure ? ": contributes to FAIL\n"
                                                 : ": does not contribute to FAIL\n");
    return text.append(issue.get_message_string(""))
        .append(issue.get_remedy_string(""))
        .append(issue.get_long_node_string(""))
        .append(issue.get_fwd_string("", "Framework Definition"));
  }

  StringInterface strings_;
  std::shared_ptr<const qorv::postprocessor::CategoryMap> categories_;
  std::set<std::string> tested_;
  std::vector<Finding> findings_;
};

}  // namespace

extern "C" QORV_EXPORT PostprocessorExtension* create(PostprocessorExtensionData& data) {
  return new JunitReport(data);
}
