// A plain issue listing: one block per issue with its severity group,
// message, remedy and nodes, wrapped to the run's width. Built as the
// console summary and as the results log.
#include <sstream>
#include <string>

#include "log/output_log.h"
#include "postprocessor/host/str.h"
#include "postprocessor/host/tokenized_host.h"
#include "postprocessor/issue_key.h"
#include "postprocessor/postprocessor_extension.h"

namespace {

using qorv::log::OutputLog;
using qorv::postprocessor::PostprocessorExtension;
using qorv::postprocessor::PostprocessorExtensionData;

std::string SeverityGroup(int severity) {
  for (const auto& [name, bounds] : qorv::postprocessor::severity_groups) {
    if (severity >= std::get<0>(bounds) && severity <= std::get<1>(bounds)) return name;
  }
  return "unknown";
}

class SimpleReport : public PostprocessorExtension {
 public:
  using PostprocessorExtension::PostprocessorExtension;

  int run() override {
    const auto& issues = data.issues ? *data.issues : qorv::IssueList();
    std::ostringstream text;
    text << std::string(data.width, '-') << "\n"
         << "Quorvane found " << issues.size() << " issue" << (issues.size() == 1 ? "" : "s") << " on "
         << data.tested_names.size() << " tested node" << (data.tested_names.size() == 1 ? "" : "s") << ".\n";
    OutputLog(OutputLog::NO_COLOR) << text.str();

    int number = 0;
    for (const auto& issue : issues) {
      std::ostringstream block;
      block << "\n" << ++number << ". [" << SeverityGroup(issue->severity) << "] " << issue->message << "\n";
      if (!issue->remedy.empty()) block << "   Remedy: " << issue->remedy << "\n";
      block << "   Nodes: " << qorv::TokenizedHost::get_merged_hosts(issue->nodes) << "\n";
      OutputLog(OutputLog::NO_COLOR) << qorv::str::column_wrap(block.str(), data.width, "   ", ':', false);
    }
    OutputLog(OutputLog::NO_COLOR) << std::string(data.width, '-') << "\n";
    return 0;
  }
};

}  // namespace

extern "C" QORV_EXPORT PostprocessorExtension* create(PostprocessorExtensionData& data) {
  return new SimpleReport(data);
}
