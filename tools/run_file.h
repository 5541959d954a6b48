// Reads a run file (JSON, see docs/run-file.md) into the Config the host
// hands to the postprocessor.
//
// The file is read as a stream of values (no document tree of the whole
// file) by the strict JSON reader (tools/json_reader.h) and checked
// strictly: every field must be known and of its type, every number in its
// range, every name a definition refers to must exist and the definitions
// must not depend on each other in a cycle. The first problem stops the
// read with RunFileError. Nothing is written anywhere.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "postprocessor/host/config.h"

namespace qorv::tools {

// A run file that cannot be read or does not describe a run. what() is one
// line: the file, the line and column, the field path when there is one,
// and the problem, e.g.
//   run.json:14:19: diagnoses[3].severity: 1e300 is out of range (a whole number from 0 to 100)
class RunFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct RunFile {
  std::shared_ptr<Config> config;
  // Whether the file names extensions, at the top or in a Framework
  // Definition; the host program supplies its defaults only when it does not.
  bool names_extensions = false;
  // Whether the file states the run's verdict (`passed`). When it does not,
  // Config::passed keeps its default and the run's own verdict is reported.
  bool states_verdict = false;
  // The file's `metrics_file`, where the Prometheus metrics go; empty when
  // it names none.
  std::string metrics_file;
};

// Builds the configuration described by the file at path. Directories in
// the file that are not absolute are taken relative to the file's own
// directory. Throws RunFileError, or std::bad_alloc when memory runs out.
RunFile ReadRunFile(const std::string& path);

}  // namespace qorv::tools
