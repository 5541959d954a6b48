// CollapsedAnalysisOutput: one issue as the reports show it, collapsed from
// the raw records that are the same issue on different nodes.
//
// It holds the records in the order they were appended (the first one
// represents the issue), the union of their nodes, the names of its
// Framework Definitions, its links to related issues and, for a table
// message, its table. Always held through std::shared_ptr; links between
// collapsed issues may form cycles that live until the end of the run.
// Single-threaded.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "postprocessor/host/analysis_output.h"
#include "postprocessor/host/issue_key.h"
#include "postprocessor/support/export.h"
#include "postprocessor/text/string_interface.h"
#include "postprocessor/text/table.h"

namespace qorv::postprocessor {

class QORV_EXPORT CollapsedAnalysisOutput {
 public:
  using Link = std::shared_ptr<CollapsedAnalysisOutput>;

  CollapsedAnalysisOutput() = default;
  explicit CollapsedAnalysisOutput(Type issue_type) : type(issue_type) {}
  CollapsedAnalysisOutput(const CollapsedAnalysisOutput&) = default;
  CollapsedAnalysisOutput& operator=(const CollapsedAnalysisOutput&) = default;
  ~CollapsedAnalysisOutput() = default;

  // Adds a raw record and its node names; nothing else changes. A null
  // record adds nothing.
  void append(const std::shared_ptr<analysis::AnalysisOutput>& issue);

  // Fields of the first record: "" (or severity 0) when there is none.
  std::string get_id() const;
  std::string get_message() const;
  std::string get_category() const;
  int get_severity() const;

  // The node lists of all records in record order, duplicates kept.
  std::vector<std::string> get_nodes() const;

  // Report lines, each "" or one line ending in '\n', starting with prefix:
  // "Message: " / "Remedy: " and the first record's text on one line (""
  // when that text is empty); "<n> node(s): " and the node-range string
  // ("" without nodes); label, "s" for several definitions, ": " and their
  // short names joined by ", " ("" without definitions). Control
  // characters of the run's text are shown as escapes (str::escape_controls).
  std::string get_message_string(std::string prefix) const;
  std::string get_remedy_string(std::string prefix) const;
  std::string get_long_node_string(std::string prefix) const;
  std::string get_fwd_string(std::string prefix, std::string label) const;

  std::vector<std::shared_ptr<analysis::AnalysisOutput>> issues;
  std::set<std::string> fwds;
  std::set<std::string> nodes;
  std::map<Type, std::set<Link>> related;
  std::set<Link> triggered_diagnoses;
  Type type = DIAGNOSIS;
  bool is_table = false;
  Table table;
  StringInterface functions;
};

}  // namespace qorv::postprocessor
