#include "postprocessor/report/report_output.h"

#include "log/output_log.h"

namespace qorv::postprocessor::detail {

void Emit(const std::string& text) {
  log::OutputLog message(log::OutputLog::NO_COLOR);
  message << text;
}

void EmitNewline() {
  log::OutputLog message(log::OutputLog::NO_COLOR);
  message << std::endl;
}

std::string Rule(int width) { return std::string(width > 0 ? static_cast<std::size_t>(width) : 0, '-'); }

}  // namespace qorv::postprocessor::detail
