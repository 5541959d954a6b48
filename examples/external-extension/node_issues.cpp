// node_issues: the nodes with the most issues, one line each with the
// number of collapsed issues by severity group. Its name is not one of the
// result files', so it writes to the console.
#include <algorithm>
#include <array>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "log/output_log.h"
#include "postprocessor/collapse/collapsed_analysis_output.h"
#include "postprocessor/host/str.h"
#include "postprocessor/postprocessor_extension.h"

namespace {

using qorv::postprocessor::PostprocessorExtension;
using qorv::postprocessor::PostprocessorExtensionData;

class NodeIssues : public PostprocessorExtension {
 public:
  using PostprocessorExtension::PostprocessorExtension;

  int run() override {
    // A key's severity code is 0, 4 or 8: informational, warning, critical.
    std::map<std::string, std::array<int, 3>> counts;
    if (data.collapsed_by_type) {
      for (const auto& [key, issues] : *data.collapsed_by_type) {
        const auto group = qorv::postprocessor::KeySeverityCode(key) >> 2;
        for (const auto& issue : issues) {
          for (const auto& node : issue->nodes) ++counts[node][group];
        }
      }
    }
    std::vector<std::pair<std::string, std::array<int, 3>>> nodes(counts.begin(), counts.end());
    std::stable_sort(nodes.begin(), nodes.end(), [](const auto& a, const auto& b) {
      return std::make_tuple(a.second[2], a.second[1], a.second[0]) >
             std::make_tuple(b.second[2], b.second[1], b.second[0]);
    });

    std::ostringstream text;
    text << "Nodes with the most issues (critical, warning, informational):\n";
    for (std::size_t i = 0; i < nodes.size() && i < 10; ++i) {
      const auto& [name, by_group] = nodes[i];
      text << "  " << name << ": " << by_group[2] << ", " << by_group[1] << ", " << by_group[0] << "\n";
    }
    qorv::log::OutputLog(qorv::log::OutputLog::NO_COLOR)
        << qorv::str::column_wrap(text.str(), data.width, "    ", ':', false);
    return 0;
  }
};

}  // namespace

extern "C" QORV_EXPORT PostprocessorExtension* create(PostprocessorExtensionData& data) { return new NodeIssues(data); }
