// qorv_execution_warnings: the problems of the run itself, written to
// "qorv_execution_warnings.log".
//
// Users read this file when the summary says that tests failed to run. It
// holds what went wrong with the checking rather than with the nodes:
//  - the runtime errors: issues of the "ERROR" category, tests that could
//    not run, per subcluster or node group, in the long form;
//  - the run's own problems: the collapsed issues of the third issue list,
//    the most severe first;
//  - the report messages the run produced, each with the nodes that
//    reported it;
// and the closing block with version, time and databases.
#include <sstream>
#include <string>
#include <vector>

#include "log/output_log.h"
#include "postprocessor/collapse/category_map.h"
#include "postprocessor/host/str.h"
#include "postprocessor/postprocessor_extension.h"
#include "postprocessor/report/category_printing.h"

namespace {

using qorv::log::OutputLog;
using qorv::postprocessor::CategoryPrinting;
using qorv::postprocessor::CollapsedIssues;
using qorv::postprocessor::PostprocessorExtension;
using qorv::postprocessor::PostprocessorExtensionData;

void Write(const std::string& text) { OutputLog(OutputLog::NO_COLOR) << text; }

class ExecutionWarnings : public PostprocessorExtension {
 public:
  using PostprocessorExtension::PostprocessorExtension;

  int run() override {
    const auto categories = qorv::postprocessor::CategoryMap::OfRun(data, true);
    CategoryPrinting printer(categories.get(), data, true);
    Write(
        qorv::str::word_wrap("EXECUTION WARNINGS\nProblems of the run itself rather than of the nodes: tests "
                             "that could not run, problems the run reported, and its report messages.\n" +
                                 std::string(data.width > 0 ? data.width : 0, '-') + "\n",
                             data.width, ""));
    printer.PrintCategory(qorv::postprocessor::kErrorCategory);
    PrintRunProblems(printer);
    PrintReportMessages();
    printer.PrintEnd(data);
    return 0;
  }

 private:
  // The third issue list's collapsed issues, critical first, those that
  // contribute to FAIL before the others of their group.
  void PrintRunProblems(CategoryPrinting& printer) const {
    CollapsedIssues problems;
    if (data.collapsed_by_type) {
      for (auto entry = data.collapsed_by_type->rbegin(); entry != data.collapsed_by_type->rend(); ++entry) {
        if (qorv::postprocessor::KeyType(entry->first) != qorv::postprocessor::THIRD_LIST) continue;
        problems.insert(problems.end(), entry->second.begin(), entry->second.end());
      }
    }
    Write("RUN PROBLEMS\n");
    if (problems.empty()) {
      Write("No problems reported.\n\n");
      return;
    }
    Write(qorv::str::word_wrap("The run reported the following problems of its own:\n\n", data.width, ""));
    const int digits = printer.GetDigits(static_cast<int>(problems.size()));
    int number = 0;
    for (const auto& issue : problems) {
      ++number;
      printer.PrintIssueLong(
          issue, "  " + std::to_string(number) + ". " + std::string(digits - printer.GetDigits(number), ' '));
    }
    Write("\n");
  }

  void PrintReportMessages() const {
    Write("REPORT MESSAGES\n");
    if (!data.reports || data.reports->empty()) {
      Write("No report messages.\n\n");
      return;
    }
    qorv::postprocessor::StringInterface strings;
    for (const auto& [key, messages] : *data.reports) {
      std::ostringstream text;
      text << "  " << qorv::str::escape_controls(key, false) << ":\n";
      for (const auto& [message, nodes] : messages) {
        text << "    " << qorv::str::escape_controls(strings.remove_endl(message), false) << "\n";
        if (!nodes.empty()) {
          text << "      " << nodes.size() << (nodes.size() == 1 ? " node: " : " nodes: ")
               << strings.GetNodeStringSet(nodes) << "\n";
        }
      }
      Write(qorv::str::column_wrap(text.str(), data.width, "      ", ':', false));
    }
    Write("\n");
  }
};

}  // namespace

extern "C" QORV_EXPORT PostprocessorExtension* create(PostprocessorExtensionData& data) {
  return new ExecutionWarnings(data);
}
