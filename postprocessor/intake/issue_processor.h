// IssueProcessor: prepares the host's raw issue lists before collapsing.
//
// Static state, replaced by each run; single-threaded, not re-entrant.
#pragma once

#include <memory>

#include "postprocessor/export.h"
#include "postprocessor/host/config.h"
#include "postprocessor/postprocessor_extension_data.h"

namespace qorv::postprocessor {

class QORV_EXPORT IssueProcessor {
 public:
  static void ProcessIssues(std::shared_ptr<Config>& config);
  static void ProcessIssues(std::shared_ptr<Config>& config, PostprocessorExtensionData& data);
};

}  // namespace qorv::postprocessor
