// The postprocessor's entry points, called by the host tool on its thread.
//
// run_postprocessor is a whole run: it processes the configuration's issue
// lists, fills the run data, and loads and runs each configured report
// extension with the output log pointed at the extension's result file or
// at the console. It returns 0 when every step and extension succeeded and 1
// otherwise; a failing extension does not stop the others, but a result
// file that cannot be opened stops the run. The result files are staged and
// replace the previous ones together only when every extension succeeded
// (log::RunFiles); an extension the run names and cannot find fails the run
// before any runs. A message catalogue that fails to load throws
// KVAL_2_18::i18n::CatalogError (a std::runtime_error) before any
// extension runs. The extensions of the configuration's placed files run
// after the others unless the run names them (Config::PlacedFile).
//
// The overload with RunOptions lets a host that states no verdict have the
// run's own (RunFacts::derived_passed) in the reports, and tells the host
// the verdict the reports state. When the host states one that the run
// contradicts (PASS with issues contributing to FAIL, or the reverse), the
// host's verdict is kept and one warning line says so on standard error.
//
// process_issues does only the issue processing (translation, filter,
// categories, order) and writes no output; it throws as above.
//
// default_extensions and installed_extensions_dir say which extensions a
// run runs when neither the configuration nor a Framework Definition names
// any, and where: a host that picks extensions itself builds on them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "postprocessor/host/config.h"
#include "postprocessor/support/export.h"

namespace qorv::postprocessor {

struct RunOptions {
  // Config::passed is not the host's verdict: the run's own is reported.
  bool derive_verdict = false;
};

struct RunOutcome {
  // The verdict the reports state.
  bool passed = true;
};

QORV_EXPORT int run_postprocessor(std::shared_ptr<Config>& config);
QORV_EXPORT int run_postprocessor(std::shared_ptr<Config>& config, const RunOptions& options, RunOutcome& outcome);
QORV_EXPORT void process_issues(std::shared_ptr<Config>& config);

// The extensions of a run that names none, in the order they run.
QORV_EXPORT const std::vector<std::string>& default_extensions();
// The directory an installation keeps its extensions in: install_dir (a
// Config::install_dir) followed by "/postprocessor/ostra64/extensions/".
QORV_EXPORT std::string installed_extensions_dir(const std::string& install_dir);

}  // namespace qorv::postprocessor
