// The run summary printers of UtilityFunctions: overall result and counts,
// closing block, solution validations and the Framework Definition tree.
#include <algorithm>
#include <array>
#include <ctime>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "postprocessor/collapse/collapsed_analysis_output.h"
#include "postprocessor/host/fs.h"
#include "postprocessor/host/str.h"
#include "postprocessor/host/tokenized_host.h"
#include "postprocessor/report/report_output.h"
#include "postprocessor/run_facts.h"
#include "postprocessor/text/string_interface.h"
#include "postprocessor/utility_functions.h"
#include "postprocessor/version.h"

namespace qorv::postprocessor {

namespace {

using detail::Emit;
using detail::EmitNewline;
using detail::Rule;

// Report readers and scripts match these texts exactly, misspelling included.
const std::array<const char*, 12> kMonths = {"January", "Febuary", "March",     "April",   "May",      "June",
                                             "July",    "August",  "September", "October", "November", "December"};

std::string ColumnWrap(const std::string& text, int width) { return str::column_wrap(text, width, "", ':', false); }

// " (<d> diagnosis|diagnoses, <o> observation|observations)"
std::string TypeBreakdown(int diagnoses, int observations) {
  return " (" + std::to_string(diagnoses) + (diagnoses == 1 ? " diagnosis, " : " diagnoses, ") +
         std::to_string(observations) + (observations == 1 ? " observation)" : " observations)");
}

std::string SuppressionConfigPath() {
  return str::wordexp(fs::abspath(str::dirname(fs::selfpath())) + "/../../" + "/etc/qorv.xml");
}

// Text of the run on one report line, its control characters shown as escapes.
std::string Shown(const std::string& text) { return str::escape_controls(text, false); }

std::string TwoDigits(int value) { return (value < 10 ? "0" : "") + std::to_string(value); }

}  // namespace

void UtilityFunctions::Summarize(const PostprocessorExtensionData& data) const {
  Emit(str::word_wrap(std::string("Overall Result: ") + (data.passed ? "PASS" : "FAIL"), data.width, ""));
  EmitNewline();
  EmitNewline();

  print_nodes(data);

  // Throws std::out_of_range, as documented, on counts fillOutputData did not make.
  for (unsigned long key : {0UL, kAnyObservation, kFailBit, kFailBit | kAnyObservation})
    data.type_counts.at(IssueKey(key));
  const auto facts = RunFacts::Of(data);
  const std::size_t failing = facts->failing();
  const std::size_t other = facts->other();

  std::stringstream text;
  const std::size_t skipped = facts->skipped_definitions.size();
  if (skipped > 0) {
    Emit(str::word_wrap("Total number of framework definition(s) skipped : " + std::to_string(skipped) + "\n",
                        data.width, ""));
    EmitNewline();
  }

  text << "Total number of issues contributing to FAIL: " << failing;
  if (failing > 0) text << TypeBreakdown(facts->failing_diagnoses, facts->failing_observations);
  text << "\n";
  if (data.fail_level_set) text << "FAIL Level: " << StringInterface().get_severity_string(data.fail_level) << "\n";
  Emit(ColumnWrap(text.str(), data.width));
  text.str(std::string());

  const bool filtered = data.include_nodes && !data.include_nodes->empty();
  if (!filtered && failing > 0) {
    PrintIssueCount(data, false);
    EmitNewline();
    EmitNewline();
  } else if (data.fail_level_set) {
    EmitNewline();
  }

  text << "Total number of other issues: " << other;
  if (other > 0) text << TypeBreakdown(facts->other_diagnoses, facts->other_observations);
  Emit(ColumnWrap(text.str(), data.width));
  EmitNewline();

  bool suppression_note = false;
  if (other > 0) {
    PrintIssueCount(data, true);
    if (facts->suppressed > 0) {
      EmitNewline();
      EmitNewline();
      suppression_note = true;
    }
  } else if (facts->suppressed > 0) {
    EmitNewline();
    suppression_note = true;
  }
  if (suppression_note) {
    Emit(str::word_wrap("Total number of issues not shown (suppressed): " + std::to_string(facts->suppressed) +
                            "\nIssues can be suppressed in " + SuppressionConfigPath(),
                        data.width, ""));
  }

  EmitNewline();
  Emit(Rule(data.width));
  EmitNewline();
}

void UtilityFunctions::print_nodes(const PostprocessorExtensionData& data) const {
  if (!data.nodes) return;
  std::vector<std::string> names;
  names.reserve(data.nodes->size());
  for (const auto& node : *data.nodes) names.push_back(node.name);
  std::sort(names.begin(), names.end());

  std::string text = "Nodes tested: " + TokenizedHost::get_merged_hosts(names) + "\n";
  const bool filtered = data.include_nodes && !data.include_nodes->empty();
  if (!filtered && !data.passed) {
    const auto facts = RunFacts::Of(data);
    const std::vector<std::string> with_issues(facts->nodes_with_issues.begin(), facts->nodes_with_issues.end());
    text += "Nodes with issues found: " + TokenizedHost::get_merged_hosts(with_issues) + "\n";
  }
  Emit(ColumnWrap(text, data.width));
  EmitNewline();
}

void UtilityFunctions::PrintIssueCount(const PostprocessorExtensionData& data, bool other) const {
  std::stringstream text;
  const auto facts = RunFacts::Of(data);
  for (const auto& group : facts->groups) {
    if (group.contributes_to_fail == other) continue;
    text << group.total() << " " << str::upper(group.name);
    if (group.total() == 0) {
      text << "\n";
      continue;
    }
    text << "     (" << group.diagnoses << (group.diagnoses == 1 ? " diagnosis,     " : " diagnoses,     ")
         << group.observations << (group.observations == 1 ? " observation)\n" : " observations)\n");
  }
  Emit(str::space_wrap(text.str(), data.width, ""));
}

void UtilityFunctions::PrintEnd(const PostprocessorExtensionData& data) const {
  Emit(Rule(data.width) + "\n");
  PrintVersionBlock(data);
}

void UtilityFunctions::PrintVersionBlock(const PostprocessorExtensionData& data) const {
  Emit(str::word_wrap(std::string(kProductName) + " " + kProductVersion, data.width, ""));
  EmitNewline();

  std::tm time{};
  if (gmtime_r(&data.timestamp, &time) != nullptr && time.tm_mon >= 0 && time.tm_mon < 12) {
    const std::string line = TwoDigits(time.tm_hour) + ":" + TwoDigits(time.tm_min) + ":" + TwoDigits(time.tm_sec) +
                             " " + kMonths[time.tm_mon] + " " + std::to_string(time.tm_mday) + " " +
                             std::to_string(time.tm_year + 1900) + " UTC";
    Emit(str::word_wrap(line, data.width, ""));
    EmitNewline();
  }

  // One wrapped block rather than three pieces, so that a long path moves to
  // its own row instead of running past the width.
  if (!data.nodefile.empty()) Emit(str::word_wrap("Nodefile used: " + Shown(data.nodefile) + "\n", data.width, ""));

  std::string databases = "Databases used: ";
  for (const auto& database : data.databases) databases += Shown(str::fstrip(str::rstrip(database, "\""), "\"")) + ", ";
  Emit(str::word_wrap(str::rstrip(databases, ", "), data.width, ""));
  EmitNewline();
}

void UtilityFunctions::print_validation(const PostprocessorExtensionData& data) const {
  if (!data.fwd_attributes || data.fwd_attributes->fwds.empty()) return;
  std::string text = "Solution Validation Results\n";
  bool listed = false;
  for (const auto& [name, fwd] : data.fwd_attributes->fwds) {
    if (!fwd || fwd->validation.empty()) continue;
    text += Shown(fwd->validation) + ": " + (fwd->pass ? "PASS\n\n" : "FAIL\n\n");
    listed = true;
  }
  if (!listed) return;
  Emit(str::word_wrap(text + Rule(data.width), data.width, ""));
  EmitNewline();
}

std::vector<std::pair<std::string, std::string>> UtilityFunctions::get_validation(
    std::vector<std::shared_ptr<FwdNode>> nodes) const {
  std::vector<std::pair<std::string, std::string>> verdicts;
  for (const auto& node : nodes) {
    if (!node || !node->fwd || node->fwd->validation.empty()) continue;
    verdicts.emplace_back(node->fwd->validation, node->fwd->pass ? "PASS" : "FAIL");
  }
  return verdicts;
}

int UtilityFunctions::GetDigits(int n) const {
  int digits = 0;
  for (; n > 0; n /= 10) ++digits;
  return digits;
}

void UtilityFunctions::PrintFWDTree(const PostprocessorExtensionData& data) const {
  Emit(Rule(data.width) + "\n");
  if (!data.fwd_attributes || data.fwd_attributes->roots.empty()) return;
  Emit("Framework Definition Dependencies\n");
  for (const auto& root : data.fwd_attributes->roots) {
    Emit("\n");
    if (!root) continue;
    // The tree is drawn from the definition's own node, which the host
    // normally hands in as the root itself.
    const FwdNode& node = root->fwd && root->fwd->node ? *root->fwd->node : *root;
    auto lines = node.create_tree({}, true);
    for (auto& line : lines) line.first = Shown(line.first);
    Emit(str::format_tree(lines, "   ", "`- ", "|- ", "|  "));
  }
}

}  // namespace qorv::postprocessor
