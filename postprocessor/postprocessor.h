// The postprocessor's entry points, called by the host tool on its thread.
//
// run_postprocessor is a whole run: it processes the configuration's issue
// lists, fills the run data, and loads and runs each configured report
// extension with the output log pointed at the extension's result file or
// at the console. It returns 0 when every step and extension succeeded and 1
// otherwise; a failing extension does not stop the others, but a result
// file that cannot be opened stops the run. A message catalogue that fails
// to load throws std::runtime_error before any extension runs.
//
// process_issues does only the issue processing (translation, filter,
// categories, order) and writes no output; it throws as above.
#pragma once

#include <memory>

#include "postprocessor/export.h"
#include "postprocessor/host/config.h"

namespace qorv::postprocessor {

QORV_EXPORT int run_postprocessor(std::shared_ptr<Config>& config);
QORV_EXPORT void process_issues(std::shared_ptr<Config>& config);

}  // namespace qorv::postprocessor
