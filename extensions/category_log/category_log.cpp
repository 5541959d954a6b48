// category_log: the full report of a run, written to "qorv_results.log".
//
// The console summary's sections, then everything an administrator needs
// to act on: the node counts, the node groups with their tests, every
// category with its issues per subcluster or node group in the long form
// (id, message, remedy, nodes, tests and the tables of table messages),
// the additional information, the runtime errors, the Framework Definition
// dependency trees and the closing block.
#include "postprocessor/collapse/category_map.h"
#include "postprocessor/postprocessor_extension.h"
#include "postprocessor/report/category_printing.h"
#include "postprocessor/report/subcluster_printing.h"

namespace {

using qorv::postprocessor::PostprocessorExtension;
using qorv::postprocessor::PostprocessorExtensionData;

class CategoryLog : public PostprocessorExtension {
 public:
  using PostprocessorExtension::PostprocessorExtension;

  int run() override {
    const auto categories = qorv::postprocessor::CategoryMap::OfRun(data, true);
    qorv::postprocessor::CategoryPrinting printer(categories.get(), data, true);
    printer.Summarize(data);
    printer.PrintSummary();
    printer.PrintValidation();
    printer.PrintNodes();
    qorv::postprocessor::SubclusterPrinting().PrintNodeGroups(data);
    printer.PrintCategories();
    printer.PrintCategory(qorv::postprocessor::kInformationalCategory);
    printer.PrintCategory(qorv::postprocessor::kErrorCategory);
    printer.PrintFWDTree(data);
    printer.PrintEnd(data);
    return 0;
  }
};

}  // namespace

extern "C" QORV_EXPORT PostprocessorExtension* create(PostprocessorExtensionData& data) {
  return new CategoryLog(data);
}
