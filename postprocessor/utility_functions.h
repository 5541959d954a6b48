// UtilityFunctions: the toolkit's shared operations on the run data.
//
// An empty class: its operations are non-static members called on any
// instance, and printers derive from it or hold one. Results of 0 mean
// success and 1 failure.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "postprocessor/host/config.h"
#include "postprocessor/postprocessor_extension_data.h"
#include "postprocessor/support/export.h"

namespace qorv::postprocessor {

class CollapsedAnalysisOutput;

class QORV_EXPORT UtilityFunctions {
 public:
  // Fills the run data from the configuration: flags, fail level, the four
  // zero counts, time stamp, copies, the "default-subcluster" flag; then the
  // severity collapse and each Framework Definition's verdict. Returns 1 as
  // soon as one of those fails (what was filled stays), else 0.
  int fillOutputData(const Config& config, PostprocessorExtensionData& data) const;

  // The identifier with its sub-id removed.
  std::string get_usable_id(const std::string& id) const;

  // --- Severity collapse -------------------------------------------------
  //
  // Issue keys of collapsed_by_type: a group's severity code, the list's
  // type (0 diagnoses, 1 observations, 2 the third list) and the fail bit
  // when the FAIL level is at or below the group's lower bound. Every
  // lookup below uses this same rule, so it always finds what was filed.

  // Collapses the three typed issue lists per severity group into a new
  // collapsed_by_type (all nine keys present, possibly empty), adds to
  // type_counts, suppressed_count and collapsed_names, then links every
  // collapsed issue in key order. Returns 1 at the first linking failure
  // (the links made so far stay), else 0.
  int SortType(const Config& config, PostprocessorExtensionData& data) const;

  // Collapses the records whose severity lies between the bounds (either
  // order, inclusive) into out and adds out's size to type_counts under
  // key 0 (type 0) or 3 (other types), plus 16 when the upper bound reaches
  // the FAIL level.
  void severity_collapse(PostprocessorExtensionData& data,
                         const std::vector<std::shared_ptr<analysis::AnalysisOutput>>& records,
                         std::vector<std::shared_ptr<CollapsedAnalysisOutput>>& out, const int& bound_a,
                         const int& bound_b, Type type) const;

  // Appends each unsuppressed record to the first issue of out whose first
  // record has the same id, severity and message, or to a new issue of the
  // given type at the end of out. Suppressed records are only counted in
  // suppressed_count. Every record's nodes go into collapsed_names.
  void CollapseAnalysisOutputs(const std::vector<std::shared_ptr<analysis::AnalysisOutput>>& records,
                               std::vector<std::shared_ptr<CollapsedAnalysisOutput>>& out,
                               PostprocessorExtensionData& data, Type type) const;

  // Ties the issue to its Framework Definitions and, for a diagnosis, links
  // it with the observations and diagnoses that triggered it. 0 or 1.
  int PopulateCollapsedOutput(std::shared_ptr<CollapsedAnalysisOutput> issue, Type type,
                              const PostprocessorExtensionData& data) const;

  // --- Diagnosis and Framework Definition mapping -------------------------
  //
  // Each failure writes one line naming the issue's full id to standard
  // error and returns 1; what was appended or counted before stays.

  // Replaces signs with the sign names of the observation's usable id and
  // returns 0; returns 1, signs unchanged, when observation_ids lacks it.
  int map_sign(const std::string& usable_id, std::vector<std::string>& signs,
               const PostprocessorExtensionData& data) const;

  // found: one of the observation's signs is covered by fwd.
  int ObservationFromFWD(std::shared_ptr<CollapsedAnalysisOutput> issue, const Fwd& fwd,
                         const PostprocessorExtensionData& data, bool& found) const;

  // Appends to out the collapsed issues of the given type whose usable id
  // is in the diagnosis's sign list, group by group ("critical",
  // "informational", "warning"), in collapsed_by_type order, once per
  // listing of the id. Fails when diagnosis_ids lacks the diagnosis and a
  // group has issues of that type.
  int DiagnosisMapping(std::shared_ptr<CollapsedAnalysisOutput> diagnosis, const PostprocessorExtensionData& data,
                       std::vector<std::shared_ptr<CollapsedAnalysisOutput>>& out, Type type) const;

  // Adds to issue->fwds the definitions that cover a sign of the issue (of
  // the observations that triggered it, for a diagnosis). A failing
  // candidate is skipped and reported as 1 at the end.
  int GetOutputFWD(std::shared_ptr<CollapsedAnalysisOutput> issue, Type type,
                   const PostprocessorExtensionData& data) const;

  // Appends the observations (types 1 and 2) covered by fwd, then those of
  // the definitions it depends on that out does not yet hold (by id,
  // severity and message). A dependency cycle is reported on standard error
  // with the definitions on it and gives 1.
  int FWDObservations(const Fwd& fwd, const PostprocessorExtensionData& data,
                      std::vector<std::shared_ptr<CollapsedAnalysisOutput>>& out) const;

  // Clears fwd.pass when one of its observations reaches the FAIL level and
  // counts its observations (key: severity code + 3, + 16 when at or above
  // the FAIL level) and the diagnoses they triggered (key of the
  // diagnosis's group). Leaves fwd unchanged when it has no observations.
  int PopulateFWD(Fwd& fwd, const PostprocessorExtensionData& data) const;

  // --- Run summary and Framework Definition tree --------------------------
  //
  // Printers: each writes its text through the output log, block by block,
  // without colour, wrapped to data.width. They only read the run data.

  // The overall result, the tested nodes (print_nodes), the skipped
  // definitions, the issues contributing to FAIL and the other issues by
  // severity group (PrintIssueCount), the suppression note and a closing
  // rule. Counts are of collapsed issues, the nodes with issues those of
  // the run's facts (RunFacts). Throws std::out_of_range when
  // type_counts lacks one of the keys 0, 3, 16 and 19 that fillOutputData
  // creates.
  void Summarize(const PostprocessorExtensionData& data) const;
  // "Nodes tested: " with the nodes in range form and, for a failed run
  // without a node filter, "Nodes with issues found: " with the run's
  // nodes with issues (RunFacts). Nothing when nodes is null.
  void print_nodes(const PostprocessorExtensionData& data) const;
  // One line per listed severity group, highest first: the groups that
  // reach the FAIL level, i.e. whose upper bound is at or above it (other
  // false), or the rest (other true), each with its collapsed diagnoses and
  // observations, as the FAIL total counts them.
  void PrintIssueCount(const PostprocessorExtensionData& data, bool other) const;
  // The closing block: a rule, then PrintVersionBlock.
  void PrintEnd(const PostprocessorExtensionData& data) const;
  // Product and version, the run's time in UTC (left out when it cannot be
  // converted), the node file when there is one, and the databases without
  // their surrounding double quotes.
  void PrintVersionBlock(const PostprocessorExtensionData& data) const;
  // "Solution Validation Results" with each solution validation's verdict,
  // in definition-name order; nothing when no definition stands for one.
  void print_validation(const PostprocessorExtensionData& data) const;
  // The (validation name, "PASS" or "FAIL") pairs of the nodes' definitions
  // that stand for a solution validation, in node order. Prints nothing.
  std::vector<std::pair<std::string, std::string>> get_validation(std::vector<std::shared_ptr<FwdNode>> nodes) const;
  // The number of decimal digits of n; 0 for n <= 0.
  int GetDigits(int n) const;

  // A rule, then, when there are root definitions, the heading and one
  // drawn dependency tree per root, in root order.
  void PrintFWDTree(const PostprocessorExtensionData& data) const;
};

}  // namespace qorv::postprocessor
