// A test extension that reports what it sees through the output log:
// its name, its width, its fail level and the number of shared issues. Its destructor
// leaves a trace in the same log, so tests see when it is destroyed.
#include <stdexcept>

#include "log/output_log.h"
#include "postprocessor/postprocessor_extension.h"

#ifndef PLUGIN_RUN_RESULT
#define PLUGIN_RUN_RESULT 0
#endif

namespace {

using qorv::log::OutputLog;
using qorv::postprocessor::PostprocessorExtension;
using qorv::postprocessor::PostprocessorExtensionData;

class WriterExtension : public PostprocessorExtension {
 public:
  explicit WriterExtension(PostprocessorExtensionData& run_data) : PostprocessorExtension(run_data) {}

  ~WriterExtension() override { OutputLog(OutputLog::NO_COLOR) << PLUGIN_NAME << " destroyed\n"; }

  int run() override {
    const std::size_t issues = data.issues ? data.issues->size() : 0;
    OutputLog(OutputLog::NO_COLOR) << PLUGIN_NAME << " width=" << data.width << " fail_level=" << data.fail_level
                                   << " issues=" << issues << "\n";
#ifdef PLUGIN_MUTATES
    data.fail_level = 99;
    if (data.issues) data.issues->push_back(std::make_shared<qorv::analysis::AnalysisOutput>());
#endif
#ifdef PLUGIN_THROWS
    throw std::runtime_error("extension failure");
#endif
    const int base = PostprocessorExtension::run();
    return base + PLUGIN_RUN_RESULT;
  }
};

}  // namespace

extern "C" QORV_EXPORT PostprocessorExtension* create(PostprocessorExtensionData& data) {
  return new WriterExtension(data);
}
