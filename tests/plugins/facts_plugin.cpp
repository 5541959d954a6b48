// A test extension that prints the run's facts as it finds them; built with
// PLUGIN_MUTATES it first changes everything of its run data it can reach:
// value fields, its own pointers, and the records shared with the others.
#include "log/output_log.h"
#include "postprocessor/collapse/category_map.h"
#include "postprocessor/postprocessor_extension.h"
#include "postprocessor/run_facts.h"

namespace {

using qorv::log::OutputLog;
using qorv::postprocessor::CategoryMap;
using qorv::postprocessor::PostprocessorExtension;
using qorv::postprocessor::PostprocessorExtensionData;
using qorv::postprocessor::RunFacts;

class FactsExtension : public PostprocessorExtension {
 public:
  using PostprocessorExtension::PostprocessorExtension;

  int run() override {
#ifdef PLUGIN_MUTATES
    if (data.issues) {
      for (auto& record : *data.issues) {
        record->category = "CHANGED";
        record->nodes.push_back("intruder");
      }
    }
    data.passed = !data.passed;
    data.suppressed_count += 5;
    data.issues = std::make_shared<qorv::IssueList>();
#endif
    const auto facts = RunFacts::Of(data);
    const auto map = CategoryMap::OfRun(data, true);
    OutputLog out(OutputLog::NO_COLOR);
    out << PLUGIN_NAME << ": " << facts->OverallResult() << "; " << map->GetOverallResultString() << "; failed "
        << facts->tests_failed_to_run << "; with issues " << facts->nodes_with_issues.size() << "; suppressed "
        << facts->suppressed << "\n";
    return 0;
  }
};

}  // namespace

extern "C" QORV_EXPORT PostprocessorExtension* create(PostprocessorExtensionData& data) {
  return new FactsExtension(data);
}
