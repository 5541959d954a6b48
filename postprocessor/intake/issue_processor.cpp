#include "postprocessor/intake/issue_processor.h"

namespace qorv::postprocessor {

void IssueProcessor::ProcessIssues(std::shared_ptr<Config>& /*config*/) {}

void IssueProcessor::ProcessIssues(std::shared_ptr<Config>& config, PostprocessorExtensionData& data) {
  data.reports = std::make_shared<ReportMap>();
  ProcessIssues(config);
}

}  // namespace qorv::postprocessor
