// The "diff" command of qorv-postprocess: what changed between two runs,
// read from their JSON results (docs/results-json.md).
//
// Issues are the same when their id, severity group and message are; nodes
// have issues when any issue of the run lists them. The report lists the
// new and resolved issues with their nodes in range form, the persisting
// ones (counted, or listed with `all`; always listed in JSON), the nodes
// that newly have issues and those that are clean again, after a one-line
// summary, as text or as JSON (docs/results-diff.md).
#pragma once

#include <ostream>
#include <string>

#include "tools/results_error.h"

namespace qorv::tools {

struct DiffOptions {
  std::string old_file;
  std::string new_file;
  bool json = false;
  int width = 80;    // text lines are wrapped to it
  bool all = false;  // the text lists persisting issues too, not only their count
};

// Writes the comparison to out. Returns 1 when an issue that is new
// contributes to FAIL, else 0. Throws ResultsError; nothing is written then.
int DiffResults(const DiffOptions& options, std::ostream& out);

}  // namespace qorv::tools
