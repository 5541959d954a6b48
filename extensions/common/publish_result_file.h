// The end of an extension that writes a result file of its own: the file
// written beside the results log and one console line saying where it is.
// Header only; each extension links it in.
#pragma once

#include <iostream>
#include <string>
#include <type_traits>

#include "extensions/common/result_file.h"
#include "log/output_log.h"
#include "postprocessor/host/str.h"

namespace qorv::extensions {

// Writes the results log's name with suffix (see BesideResultsLog) through
// an AtomicFileWriter, calling write(file) to produce the content, and
// prints "<what>: <path>" through the output log; returns 0. When the file
// cannot be written, prints "Error writing the <what>: <problem>." on
// standard error, leaves any earlier file as it was and returns 1, the
// extension's failure; write is not called when the file cannot even be
// created. Control characters of the path are printed as escapes. The file
// gets the permission bits of mode.
template <typename Write, typename = std::enable_if_t<std::is_invocable_v<Write&, AtomicFileWriter&>>>
int PublishResultFile(const std::string& output_file, const std::string& suffix, const std::string& what, Write&& write,
                      unsigned mode = log::kResultFileMode) {
  AtomicFileWriter file(BesideResultsLog(output_file, suffix), mode);
  if (file.problem().empty()) write(file);
  const std::string problem = file.Commit();
  if (!problem.empty()) {
    std::cerr << "Error writing the " << what << ": " << str::escape_controls(problem, false) << "." << std::endl;
    return 1;
  }
  log::OutputLog(log::OutputLog::NO_COLOR) << what << ": " << str::escape_controls(file.path(), false) << "\n";
  return 0;
}

}  // namespace qorv::extensions
