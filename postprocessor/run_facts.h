// RunFacts: the facts of a run that more than one report states, worked out
// in one place so that every report tells the same story.
//
// RunFacts::Of(data) computes them from the filled run data: the verdict,
// the collapsed issues by severity group and FAIL contribution, the
// suppressed records, the issues per category, the tests that failed to
// run, the skipped definitions and validation verdicts, and the tested
// nodes with and without issues. The issues per category, the tests that
// failed to run and the nodes with issues come from the run's category map
// with tables (CategoryMap::OfRun(data, true)), the classification the
// results log lists. The facts of one run are computed once and shared
// with every later caller that passes a copy of the same run data; they
// are immutable. Single-threaded, like the rest of the toolkit.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "postprocessor/postprocessor_extension_data.h"
#include "postprocessor/support/export.h"

namespace qorv::postprocessor {

class QORV_EXPORT RunFacts {
 public:
  // The collapsed issues (severity collapse) of one severity group.
  struct GroupCount {
    std::string name;  // "critical", "warning" or "informational"
    int lower = 0;     // the group's bounds on the 0..100 scale
    int upper = 0;
    bool contributes_to_fail = false;  // the group reaches the FAIL level: upper >= fail_level
    std::size_t diagnoses = 0;
    std::size_t observations = 0;  // observations and the third list
    std::size_t total() const { return diagnoses + observations; }
  };

  // The facts of the run data's run: computed on the first call for a run
  // and shared afterwards. A run data whose issue list was replaced (or one
  // built by hand) gets facts of its own. Never null.
  static std::shared_ptr<const RunFacts> Of(const PostprocessorExtensionData& data);

  // Computes the facts afresh; only the category map may be shared.
  explicit RunFacts(const PostprocessorExtensionData& data);

  // The run's own verdict (derived_passed) alone, without a category map.
  static bool DerivedPassed(const PostprocessorExtensionData& data);

  // The nodes with and without issues among the tested, from a category
  // map's issue nodes (GetIssueNodes): entries naming several nodes ("a, b"
  // or "a,b") are split, and a node reported under its long name
  // (node1.example) stands for its short name (node1) too.
  static void SortNodes(const std::set<std::string>& issue_nodes, const std::set<std::string>& tested,
                        std::set<std::string>& with_issues, std::set<std::string>& without_issues);

  // The verdict the reports state: the run data's passed.
  bool passed = true;
  // The run's own verdict: false when a collapsed issue contributes to FAIL
  // (a group with contributes_to_fail holds one) or a Framework Definition
  // that ran (was not skipped) did not pass, validations included.
  bool derived_passed = true;

  int fail_level = 25;
  // Severity groups from the highest to the lowest.
  std::vector<GroupCount> groups;
  // Sums over the groups that do and do not contribute to FAIL.
  std::size_t failing_diagnoses = 0;
  std::size_t failing_observations = 0;
  std::size_t other_diagnoses = 0;
  std::size_t other_observations = 0;
  std::size_t failing() const { return failing_diagnoses + failing_observations; }
  std::size_t other() const { return other_diagnoses + other_observations; }

  // Raw issue records the configuration suppressed.
  std::size_t suppressed = 0;

  // Issues per reported category (neither "ERROR" nor "INFORMATIONAL"),
  // only categories with issues, and their sum: the overall result line.
  std::map<std::string, std::size_t> issues_per_category;
  std::size_t issues_found = 0;
  // Issues of the category "ERROR": tests that could not run.
  std::size_t tests_failed_to_run = 0;
  // Issues of the category "INFORMATIONAL".
  std::size_t informational = 0;

  // Names of the Framework Definitions that were skipped, in name order.
  std::vector<std::string> skipped_definitions;
  // The solution validations of the root definitions, in tree order:
  // validation name and whether it passed.
  std::vector<std::pair<std::string, bool>> validations;

  std::set<std::string> tested_nodes;
  // Nodes with a counted issue (not suppressed, not "ERROR" or
  // "INFORMATIONAL"), each entry a single node; a node reported under its
  // long name (node1.example) stands for its short name too.
  std::set<std::string> nodes_with_issues;
  // Tested nodes with none of those issues under their own, short or long name.
  std::set<std::string> nodes_without_issues;

  // "<n> issue(s) found - A (x), B (y)", "Could not run all tests." or
  // "No issues found": the overall result line without its label.
  std::string OverallResult() const;

 private:
  // The map's overall result line, label included.
  std::string overall_result_;
};

}  // namespace qorv::postprocessor
