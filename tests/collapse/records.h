// Test support: the issue records the collapse tests build, in one call.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "postprocessor/host/analysis_output.h"

namespace qorv::testing {

// A record of `id` on `nodes`; its message is the id unless one is given.
inline std::shared_ptr<analysis::AnalysisOutput> MakeRecord(std::string id, int severity,
                                                            std::vector<std::string> nodes, std::string message = "",
                                                            bool suppressed = false) {
  auto record = std::make_shared<analysis::AnalysisOutput>();
  record->id = std::move(id);
  record->nodes = std::move(nodes);
  record->severity = severity;
  record->message = message.empty() ? record->id : std::move(message);
  record->suppressed = suppressed;
  return record;
}

}  // namespace qorv::testing
