// category_summary: the console summary of a run.
//
// What an administrator reads at the terminal right after the run: the
// overall result with the issue counts by severity group, the tested nodes
// and those with issues, the suppression note, the category summary (tests
// run, tests that failed to run, issues per category), the solution
// validation verdicts and the closing block with version, time and
// databases. The issues themselves are in the results log, which the
// driver's closing line names.
#include "postprocessor/collapse/category_map.h"
#include "postprocessor/postprocessor_extension.h"
#include "postprocessor/report/category_printing.h"

namespace {

using qorv::postprocessor::PostprocessorExtension;
using qorv::postprocessor::PostprocessorExtensionData;

class CategorySummary : public PostprocessorExtension {
 public:
  using PostprocessorExtension::PostprocessorExtension;

  int run() override {
    const auto categories = qorv::postprocessor::CategoryMap::OfRun(data, true);
    qorv::postprocessor::CategoryPrinting printer(categories.get(), data);
    printer.Summarize(data);
    printer.PrintSummary();
    printer.PrintValidation();
    printer.PrintVersionBlock(data);
    return 0;
  }
};

}  // namespace

extern "C" QORV_EXPORT PostprocessorExtension* create(PostprocessorExtensionData& data) {
  return new CategorySummary(data);
}
