#include "postprocessor/postprocessor.h"

#include <dlfcn.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <system_error>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "log/error_log.h"
#include "log/output_log.h"
#include "log/staged_file.h"
#include "postprocessor/host/fs.h"
#include "postprocessor/host/str.h"
#include "postprocessor/host/util_extensions.h"
#include "postprocessor/intake/issue_processor.h"
#include "postprocessor/postprocessor_extension.h"
#include "postprocessor/run_facts.h"
#include "postprocessor/utility_functions.h"

namespace qorv::postprocessor {

namespace {

const char kResultsLog[] = "qorv_results.log";
const char kWarningsLog[] = "qorv_execution_warnings.log";
const char kResultsJson[] = "qorv_results.json";

// Extension name to the file it writes; other extensions write to the console.
const std::map<std::string, std::string> output_file_map = {
    {"reports", kResultsLog},      {"qorv_output_log", kResultsLog},
    {"category_log", kResultsLog}, {"qorv_execution_warnings", kWarningsLog},
    {"qorv_json", kResultsJson},   {"provider_configuration", "node_capability_discovery_config.xml"},
};

// Appends the libraries of spec's names; a name that is not there is a
// problem naming it and the directory searched.
void Append(std::vector<std::string>& paths, std::vector<std::string>& missing, const ExtensionSpec& spec) {
  for (const auto& name : spec.names) {
    auto found = util_extensions::scan_files(spec.directory, {name});
    if (found.empty()) {
      missing.push_back("No postprocessor extension '" + str::escape_controls(name, false) + "' in " +
                        str::escape_controls(spec.directory.empty() ? std::string(".") : spec.directory, false) +
                        " (neither lib" + str::escape_controls(name, false) + ".so nor " +
                        str::escape_controls(name, false) + ".so).");
    }
    paths.insert(paths.end(), found.begin(), found.end());
  }
}

// The extension libraries of the first source that names any: the
// configuration's specs, then those of the Framework Definitions, then the
// default list in the installation. Every name of that source that is not
// found goes to missing.
std::vector<std::string> CollectExtensions(const Config& config, std::vector<std::string>& missing) {
  const auto names_any = [](const std::vector<ExtensionSpec>& specs) {
    return std::any_of(specs.begin(), specs.end(), [](const ExtensionSpec& spec) { return !spec.names.empty(); });
  };
  std::vector<std::string> paths;
  if (names_any(config.extension_specs)) {
    for (const auto& spec : config.extension_specs) Append(paths, missing, spec);
    return paths;
  }
  bool named = false;
  if (config.fwd_attributes) {
    for (const auto& entry : config.fwd_attributes->fwds) {
      if (!entry.second || !names_any(entry.second->extension_specs)) continue;
      named = true;
      for (const auto& spec : entry.second->extension_specs) Append(paths, missing, spec);
    }
  }
  if (!named) {
    Append(paths, missing, ExtensionSpec{default_extensions(), installed_extensions_dir(config.install_dir)});
  }
  return paths;
}

void RemoveDuplicates(std::vector<std::string>& paths) {
  std::unordered_set<std::string> seen;
  paths.erase(std::remove_if(paths.begin(), paths.end(),
                             [&seen](const std::string& path) { return !seen.insert(path).second; }),
              paths.end());
}

int TerminalWidth() {
  winsize size{};
  const int columns = ::ioctl(STDIN_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
  return columns == 0 || columns > 512 ? 80 : columns;
}

// The file an extension writes, placed from the run's one expanded output
// name (output): the results log is that name, the warnings go beside it,
// the JSON takes its name with ".json".
std::string ResolveOutputFile(std::string file, const std::string& output) {
  if (!output.empty()) {
    if (file == kResultsLog) file = output;
    if (file == kWarningsLog) file = str::dirname(output) + "/" + kWarningsLog;
    if (file == kResultsJson) file = str::replace_extension(output, ".json");
  }
  const std::string directory = str::dirname(file);
  if (!fs::try_makedirs(directory)) {
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    const std::string fallback = str::basename(file);
    std::cerr << "Cannot create the directory " << str::escape_controls(directory, false) << ": "
              << (error ? error.message() : std::string("a file of that name is in the way")) << "; writing "
              << str::escape_controls(fallback, false) << " in the working directory instead." << std::endl;
    file = fallback;
  }
  return file;
}

// Whether everything written so far reached the current result file. A
// full disk does not stop the writes: it leaves the stream failed, and
// the run would otherwise pass with a truncated file.
bool ResultFileWritten() {
  for (const auto& holder : log::OutputLog::singleton_obj->files) {
    if (!holder) continue;
    const std::string problem = holder->Flush();
    if (problem.empty()) continue;
    std::cerr << "Error writing output file " << str::escape_controls(holder->path(), false) << ": "
              << str::escape_controls(problem, false) << "." << std::endl;
    return false;
  }
  return true;
}

// The verdict the reports state: the run's own when the host states none;
// the host's otherwise, with a warning when the run contradicts it.
void SettleVerdict(const RunOptions& options, PostprocessorExtensionData& data) {
  const bool derived = RunFacts::DerivedPassed(data);
  if (options.derive_verdict) {
    data.passed = derived;
    return;
  }
  if (data.passed == derived) return;
  std::cerr << "Warning: the verdict " << (data.passed ? "PASS" : "FAIL") << " stated for this run is kept, but "
            << (data.passed ? "issues contribute to FAIL or a Framework Definition that ran did not pass."
                            : "no issue contributes to FAIL and every Framework Definition that ran passed.")
            << std::endl;
}

// Loads, creates, runs and destroys one extension. Returns 0 or 1.
int RunExtension(const std::string& path, PostprocessorExtensionData& data) {
  // RTLD_NODELETE keeps the code mapped after dlclose: an extension may leave
  // objects it made (records added to a shared list, say) in the run data,
  // and their destructors run after the library is closed.
  void* handle = ::dlopen(path.c_str(), RTLD_LAZY | RTLD_NODELETE);
  if (!handle) {
    const char* raw = ::dlerror();
    const std::string error = raw ? raw : "";
    // The loader says "failed to map segment" when the address space is full.
    const bool memory =
        error.find("map segment") != std::string::npos || error.find("Cannot allocate memory") != std::string::npos;
    std::cerr << "Error opening extension library " << path << ": '" << error << "'"
              << (memory ? ": not enough memory" : "") << std::endl;
    return 1;
  }
  auto create = reinterpret_cast<CreateExtensionFunction>(::dlsym(handle, "create"));
  if (!create) {
    std::cerr << "Error creating constructor for: " << path << std::endl;
    ::dlclose(handle);
    return 1;
  }

  int result = 0;
  PostprocessorExtension* extension = nullptr;
  const char* memory = "";  // said when memory ran out
  try {
    extension = create(data);
  } catch (const std::bad_alloc&) {
    memory = ": not enough memory";
  } catch (...) {
  }
  if (!extension) {
    std::cerr << "Error loading constructor for: " << path << memory << std::endl;
    result = 1;
  } else {
    int status;
    try {
      status = extension->run();
    } catch (const std::bad_alloc&) {
      memory = ": not enough memory";
      status = 1;
    } catch (...) {
      status = 1;
    }
    if (status == 1) {
      std::cerr << "Error running postprocessor extension: " << path << memory << std::endl;
      result = 1;
    }
    // The destructor's code lives in the library: destroy the object (and
    // its hold on the shared run data) before the library goes away.
    delete extension;
  }
  ::dlclose(handle);
  return result;
}

// Runs the extension of a file the host places: the extension sees the
// file's path as the results log's name, and the file it writes there gets
// the placement's mode. Returns 0 or 1.
int RunPlacedExtension(const std::string& library, const PlacedFile& file, PostprocessorExtensionData& data) {
  const std::string name = str::escape_controls(str::get_lib_name(library), false);
  const std::string path = str::escape_controls(file.path, false);
  if (log::RunFiles::Find(file.path)) {
    std::cerr << "Error running postprocessor extension: " << library << ": " << path
              << " holds another result of this run already." << std::endl;
    return 1;
  }
  std::string results_log = std::exchange(data.output_file, file.path);
  const int result = RunExtension(library, data);
  data.output_file = std::move(results_log);
  if (result != 0) return result;
  const auto staged = log::RunFiles::Find(file.path);
  if (!staged) {
    std::cerr << "Error running postprocessor extension: " << library << ": " << name << " wrote no " << path << "."
              << std::endl;
    return 1;
  }
  if (const std::string& problem = staged->SetMode(file.mode); !problem.empty()) {
    std::cerr << "Error writing output file " << str::escape_controls(problem, false) << "." << std::endl;
    return 1;
  }
  return 0;
}

}  // namespace

int run_postprocessor(std::shared_ptr<Config>& config) {
  RunOutcome outcome;
  return run_postprocessor(config, RunOptions{}, outcome);
}

int run_postprocessor(std::shared_ptr<Config>& config, const RunOptions& options, RunOutcome& outcome) {
  if (!config) {
    std::cerr << "The postprocessor was given no configuration." << std::endl;
    return 1;
  }
  // Every file of the run is placed from this one expansion of its name.
  const std::string output = str::wordexp(str::strip(config->output_file, ""));
  if (str::has_command_substitution(output)) {
    std::cerr << "Error opening output file " << str::escape_controls(config->output_file, false)
              << ": command substitution is not allowed in its name." << std::endl;
    return 1;
  }
  // The reports' log expands the names it is given once more: a name that
  // would change again would put them into another file than the run places.
  if (str::expands_again(output)) {
    std::cerr << "Error opening output file " << str::escape_controls(config->output_file, false) << ": it expands to '"
              << str::escape_controls(output, false) << "', which would expand again." << std::endl;
    return 1;
  }

  PostprocessorExtensionData data;
  data.provider_optionsets = config->provider_optionsets;

  IssueProcessor::ProcessIssues(config, data);

  int result = 0;
  if (UtilityFunctions().fillOutputData(*config, data) == 1) result = 1;
  if (!output.empty()) data.output_file = output;
  SettleVerdict(options, data);
  outcome.passed = data.passed;

  std::vector<std::string> missing;
  std::vector<std::string> libraries = CollectExtensions(*config, missing);
  // The extensions of files the host places run in addition to the run's.
  std::map<std::string, PlacedFile> placed;  // by extension name, the path expanded
  for (const auto& file : config->placed_files) {
    auto& entry = placed[file.extension] = file;
    entry.path = str::wordexp(str::strip(file.path, ""));
    if (std::none_of(libraries.begin(), libraries.end(),
                     [&](const std::string& path) { return str::get_lib_name(path) == file.extension; })) {
      Append(libraries, missing, ExtensionSpec{{file.extension}, file.directory});
    }
  }
  // A report the run asks for and cannot have fails the run before any
  // result file is touched.
  for (const auto& problem : missing) std::cerr << problem << std::endl;
  if (libraries.empty()) {
    log::ErrorLog(6) << "No postprocessor extensions could be loaded.  Please check their specifications in the "
                        "configuration file or the Framework Definitions.  Exiting.";
  }
  if (!missing.empty() || libraries.empty()) return 1;
  RemoveDuplicates(libraries);
  const int terminal_width = TerminalWidth();
  // The run's facts are taken before any extension runs, so that none can
  // change what a later one reports.
  RunFacts::Of(data);

  // The result files are staged and put in place together once every
  // report has been written; anything else leaves the previous ones.
  struct RunFilesScope {
    RunFilesScope() { log::RunFiles::Begin(); }
    ~RunFilesScope() {
      if (log::RunFiles::InRun()) log::RunFiles::DiscardAll();
      log::OutputLog::set_out_streams("", std::ios_base::out);
    }
  } run_files;

  bool reports_failed = false;
  std::vector<std::string> opened_files;  // as first named, for the closing line
  // Each opened file by key: whether it holds the JSON results, and its name.
  std::unordered_map<std::string, std::pair<bool, std::string>> opened_keys;
  for (const auto& path : libraries) {
    const auto mapped = output_file_map.find(str::get_lib_name(path));
    if (mapped == output_file_map.end()) {
      data.width = terminal_width;
      log::OutputLog::set_out_streams("", std::ios_base::out | std::ios_base::trunc);
    } else {
      data.width = 80;
      const std::string file = ResolveOutputFile(mapped->second, output);
      std::ios_base::openmode mode = std::ios_base::out | std::ios_base::app;
      const bool json = mapped->second == kResultsJson;
      const auto [opened, first] = opened_keys.try_emplace(log::FileKey(file), json, file);
      if (first) {
        mode = std::ios_base::out | std::ios_base::trunc;
        opened_files.push_back(file);
      } else if (opened->second.first || json) {
        // Text reports may share a file, one after the other; the JSON
        // results and a text report in one file would leave neither readable.
        std::cerr << "Error opening output file " << str::escape_controls(file, false) << "." << std::endl
                  << "  " << str::escape_controls(opened->second.second, false)
                  << " holds another result already; give the results log"
                  << " (output_file) a name whose extension is not .json." << std::endl;
        return 1;
      }
      if (!log::OutputLog::set_out_streams(file, mode)) return 1;
    }
    const auto placement = placed.find(str::get_lib_name(path));
    if (placement == placed.end()) {
      if (RunExtension(path, data) == 1) reports_failed = true;
    } else if (RunPlacedExtension(path, placement->second, data) == 1) {
      reports_failed = true;
    }
    // A result file that was not written stops the run like one that cannot be opened.
    if (mapped != output_file_map.end() && !ResultFileWritten()) return 1;
  }

  // A report that failed would leave its results missing or half written
  // beside the others: the previous results stay instead.
  log::OutputLog::set_out_streams("", std::ios_base::out);
  if (reports_failed) {
    log::RunFiles::DiscardAll();
    std::cerr << "The result files were left as they were, since a report failed." << std::endl;
    return 1;
  }
  if (const std::string problem = log::RunFiles::CommitAll(); !problem.empty()) {
    std::cerr << "Error writing output file " << str::escape_controls(problem, false) << "." << std::endl;
    return 1;
  }

  // The closing line names the files this run wrote, when it wrote any.
  if (opened_files.empty()) return result;
  std::cout << "See the following files for more information: ";
  for (std::size_t i = 0; i < opened_files.size(); ++i) {
    std::cout << str::escape_controls(opened_files[i], false) << (i + 1 < opened_files.size() ? ", " : "");
  }
  std::cout << std::endl;
  return result;
}

void process_issues(std::shared_ptr<Config>& config) {
  if (config) IssueProcessor::ProcessIssues(config);
}

const std::vector<std::string>& default_extensions() {
  static const std::vector<std::string> names = {"category_summary", "category_log", "qorv_execution_warnings"};
  return names;
}

std::string installed_extensions_dir(const std::string& install_dir) {
  return install_dir + "/" QORV_INSTALL_EXTENSIONDIR "/";
}

}  // namespace qorv::postprocessor
