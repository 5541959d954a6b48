// The end of an extension that writes a result file of its own: the file
// written beside the results log and one console line saying where it is.
// Header only; each extension links it in.
#pragma once

#include <iostream>
#include <string>

#include "extensions/common/result_file.h"
#include "log/output_log.h"

namespace qorv::extensions {

// Writes content whole to the results log's name with suffix (see
// BesideResultsLog and WriteFileAtomically) and prints "<what>: <path>"
// through the output log; returns 0. When the file cannot be written,
// prints "Error writing the <what>: <problem>." on standard error, leaves
// any earlier file as it was and returns 1, the extension's failure.
inline int PublishResultFile(const std::string& output_file, const std::string& suffix, const std::string& what,
                             const std::string& content) {
  const std::string path = BesideResultsLog(output_file, suffix);
  const std::string problem = WriteFileAtomically(path, content);
  if (!problem.empty()) {
    std::cerr << "Error writing the " << what << ": " << problem << "." << std::endl;
    return 1;
  }
  log::OutputLog(log::OutputLog::NO_COLOR) << what << ": " << path << "\n";
  return 0;
}

}  // namespace qorv::extensions
