// qorv-postprocess: runs the postprocessor on a run file (docs/run-file.md),
// the way the host tool does after its analysis, so that a run can be
// reported again, scripted or checked.
//
// Exit status: 0 the postprocessor and every report succeeded, 1 the
// postprocessor reported a failure, 2 bad usage, an unreadable or malformed
// run file or suppression file, or a message catalogue that could not be
// loaded; with --fail-exit, 3 for a run whose verdict is FAIL (when neither
// 2 nor 1 applies). The run file and the suppression files are read and
// checked completely before the postprocessor starts, so a bad file writes
// no report.
#include <getopt.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <iostream>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "postprocessor/host/fs.h"
#include "postprocessor/host/kval/message_catalogs.h"
#include "postprocessor/host/str.h"
#include "postprocessor/host/util_extensions.h"
#include "postprocessor/postprocessor.h"
#include "postprocessor/version.h"
#include "tools/results_diff.h"
#include "tools/run_file.h"
#include "tools/slurm_drain.h"
#include "tools/suppressions.h"

// Read by jemalloc when the program is linked with it (tools/CMakeLists.txt),
// ignored otherwise: pages one extension freed go back to the system within
// a second rather than ten, so the next extension's maps do not come on top
// of them.
extern "C" {
extern __attribute__((visibility("default"))) const char* malloc_conf;
const char* malloc_conf = "dirty_decay_ms:1000,muzzy_decay_ms:0";
}

namespace {

constexpr char kProgram[] = "qorv-postprocess";

// Extensions run when neither the run file nor the command line names any:
// the library's defaults, then the JSON results.
std::vector<std::string> DefaultExtensions() {
  std::vector<std::string> names = qorv::postprocessor::default_extensions();
  names.push_back("qorv_json");
  return names;
}

// The exit status of a run whose verdict is FAIL, with --fail-exit.
constexpr int kFailStatus = 3;

// The latest time stamp the reports print with a four-digit year.
constexpr std::int64_t kLastTimestamp = 253402300799;  // 9999-12-31 23:59:59 UTC

struct Options {
  std::string run_file;
  std::optional<std::string> output;
  std::optional<std::string> install_dir;
  std::vector<std::string> extension_dirs;  // searched in order
  bool installed_extensions = true;         // the installation's directory is searched last
  std::vector<std::string> extensions;
  bool process_only = false;
  std::optional<std::int32_t> fail_level;
  std::optional<std::time_t> timestamp;
  std::vector<std::string> suppression_files;
  bool fail_exit = false;
  std::optional<std::string> metrics_file;
  std::optional<unsigned> metrics_mode;
};

// The metrics file's permission bits unless --metrics-mode says otherwise:
// node_exporter reads it as a user of its own.
constexpr unsigned kMetricsMode = 0644;

// The installation this program belongs to: the prefix it is installed
// under, so that a moved installation still finds its own extensions, or
// the prefix it was built for when it runs from the build tree.
std::string DefaultInstallDir() {
  const std::string suffix = std::string("/") + QORV_INSTALL_PROGRAMDIR;
  const std::string directory = qorv::str::dirname(qorv::fs::selfpath());
  if (directory.size() > suffix.size() &&
      directory.compare(directory.size() - suffix.size(), suffix.size(), suffix) == 0) {
    return directory.substr(0, directory.size() - suffix.size());
  }
  return QORV_INSTALL_PREFIX;
}

void PrintHelp() {
  std::cout << "Usage: " << kProgram << " [OPTION]... RUN-FILE\n"
            << "  or:  " << kProgram << " diff [--json] OLD.json NEW.json   (see " << kProgram << " diff --help)\n"
            << "  or:  " << kProgram << " drain [--apply] RESULTS.json       (see " << kProgram << " drain --help)\n"
            << "Report a Quorvane run described by RUN-FILE (JSON): translate, collapse and\n"
               "classify its issues, decide pass or fail and run the report extensions.\n"
               "\n"
               "  -o, --output=FILE        write the results log to FILE (the JSON results and\n"
               "                           the execution warnings go beside it); a leading ~\n"
               "                           and $NAME or ${NAME} are expanded once, and a\n"
               "                           variable that is not set is an error\n"
               "      --install-dir=DIR    installation root (default: "
            << DefaultInstallDir()
            << ")\n"
               "      --extensions=DIR     look for extensions in DIR first; repeat for more,\n"
               "                           searched in order before the installation's\n"
               "                           <install-dir>/postprocessor/ostra64/extensions/\n"
               "      --no-installed-extensions  search only the --extensions directories\n"
               "  -e, --extension=NAME     run extension NAME; repeat for more; replaces the\n"
               "                           extensions the run file names\n"
               "      --process-only       read, translate and sort the issues, write nothing\n"
               "      --fail-level=N       issues of severity N (0..100) and above make the run\n"
               "                           fail; overrides the run file\n"
               "      --timestamp=EPOCH    time of the run in seconds since 1970 (UTC), for\n"
               "                           reproducible reports; default: $SOURCE_DATE_EPOCH,\n"
               "                           else the current time\n"
               "      --suppressions=FILE  suppress the issues FILE's rules match, besides those\n"
               "                           of <install-dir>/etc/qorv.xml; repeat for more\n"
               "      --fail-exit          exit with status 3 when the run's verdict is FAIL\n"
               "      --metrics-file=FILE  also run qorv_metrics and write the Prometheus\n"
               "                           metrics to FILE (ending in .prom, for node_exporter's\n"
               "                           textfile collector) instead of beside the results\n"
               "                           log; overrides the run file; expanded like --output\n"
               "      --metrics-mode=MODE  permissions of the metrics file, octal, at most 0644\n"
               "                           (default 0644: readable by node_exporter)\n"
               "  -h, --help               show this help and exit\n"
               "  -V, --version            show the version and exit\n"
               "\n"
               "Without extensions named in the run file or with --extension, the extensions\n"
               "category_summary, category_log, qorv_execution_warnings and qorv_json are run\n"
               "from the extension directory; those not installed there are skipped.\n"
               "\n"
               "Without \"passed\" in the run file, the verdict is the run's own: FAIL when an\n"
               "issue contributes to FAIL or a Framework Definition that ran did not pass.\n"
               "\n"
               "Exit status: 0 the postprocessor and every report succeeded (the verdict,\n"
               "PASS or FAIL, is in the reports), 1 the postprocessor reported a failure,\n"
               "2 bad usage, a bad run file or suppression file, or a message catalogue that\n"
               "cannot be loaded; with --fail-exit, 3 when the verdict is FAIL and neither 1\n"
               "nor 2 applies.\n";
}

[[noreturn]] void UsageError(const std::string& problem) {
  std::cerr << kProgram << ": " << problem << "\nTry '" << kProgram << " --help' for more information.\n";
  std::exit(2);
}

// A whole decimal number in [low, high]; nullopt for anything else.
std::optional<std::int64_t> ParseInteger(const std::string& text, std::int64_t low, std::int64_t high) {
  if (text.empty() || text.find_first_not_of("-0123456789") != std::string::npos) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value < low || value > high) return std::nullopt;
  return value;
}

std::time_t ParseTimestamp(const std::string& text, const std::string& source) {
  // 0 stands for "now" in the configuration, so it cannot fix a time.
  const auto value = ParseInteger(text, 1, kLastTimestamp);
  if (!value) {
    UsageError(source + ": '" + text + "' is not a time stamp (whole seconds since 1970, 1 to " +
               std::to_string(kLastTimestamp) + ")");
  }
  return static_cast<std::time_t>(*value);
}

// The metrics file's permission bits: octal, reading for anyone, writing
// for the owner alone; nothing else (execution, set-id) means anything for
// a file of metrics.
unsigned ParseMetricsMode(const std::string& text) {
  if (text.empty() || text.size() > 4 || text.find_first_not_of("01234567") != std::string::npos) {
    UsageError("--metrics-mode: '" + text + "' is not an octal mode such as 0640");
  }
  const unsigned mode = static_cast<unsigned>(std::stoul(text, nullptr, 8));
  if ((mode & 022) != 0) UsageError("--metrics-mode: '" + text + "' lets others than the owner write the metrics");
  if ((mode & ~0644u) != 0)
    UsageError("--metrics-mode: '" + text + "' sets more than read and write bits (at most 0644)");
  return mode;
}

Options ParseOptions(int argc, char** argv) {
  enum {
    kInstallDir = 256,
    kNoInstalledExtensions,
    kExtensions,
    kProcessOnly,
    kFailLevel,
    kTimestamp,
    kSuppressions,
    kFailExit,
    kMetricsFile,
    kMetricsMode
  };
  static const option kLongOptions[] = {
      {"output", required_argument, nullptr, 'o'},
      {"install-dir", required_argument, nullptr, kInstallDir},
      {"no-installed-extensions", no_argument, nullptr, kNoInstalledExtensions},
      {"extensions", required_argument, nullptr, kExtensions},
      {"extension", required_argument, nullptr, 'e'},
      {"process-only", no_argument, nullptr, kProcessOnly},
      {"fail-level", required_argument, nullptr, kFailLevel},
      {"timestamp", required_argument, nullptr, kTimestamp},
      {"suppressions", required_argument, nullptr, kSuppressions},
      {"fail-exit", no_argument, nullptr, kFailExit},
      {"metrics-file", required_argument, nullptr, kMetricsFile},
      {"metrics-mode", required_argument, nullptr, kMetricsMode},
      {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, 'V'},
      {nullptr, 0, nullptr, 0},
  };
  Options options;
  opterr = 0;  // one message of our own instead of getopt's
  int code;
  while ((code = getopt_long(argc, argv, ":o:e:hV", kLongOptions, nullptr)) != -1) {
    switch (code) {
      case 'o':
        if (*optarg == '\0') UsageError("--output needs a file name");
        options.output = optarg;
        break;
      case kInstallDir:
        if (*optarg == '\0') UsageError("--install-dir needs a directory");
        options.install_dir = optarg;
        break;
      case kExtensions:
        if (*optarg == '\0') UsageError("--extensions needs a directory");
        options.extension_dirs.push_back(optarg);
        break;
      case kNoInstalledExtensions: options.installed_extensions = false; break;
      case 'e':
        if (*optarg == '\0' || std::string(optarg).find('/') != std::string::npos) {
          UsageError(std::string("--extension: '") + optarg + "' is not an extension name");
        }
        options.extensions.push_back(optarg);
        break;
      case kProcessOnly: options.process_only = true; break;
      case kFailLevel: {
        const auto level = ParseInteger(optarg, 0, 100);
        if (!level) UsageError(std::string("--fail-level: '") + optarg + "' is not a severity from 0 to 100");
        options.fail_level = static_cast<std::int32_t>(*level);
        break;
      }
      case kTimestamp: options.timestamp = ParseTimestamp(optarg, "--timestamp"); break;
      case kSuppressions:
        if (*optarg == '\0') UsageError("--suppressions needs a file name");
        options.suppression_files.push_back(optarg);
        break;
      case kFailExit: options.fail_exit = true; break;
      case kMetricsFile:
        if (*optarg == '\0') UsageError("--metrics-file needs a file name");
        options.metrics_file = optarg;
        break;
      case kMetricsMode: options.metrics_mode = ParseMetricsMode(optarg); break;
      case 'h': PrintHelp(); std::exit(std::cout.flush() ? 0 : 2);
      case 'V':
        std::cout << kProgram << " (" << qorv::postprocessor::kProductName << ") "
                  << qorv::postprocessor::kProductVersion << "\n";
        std::exit(std::cout.flush() ? 0 : 2);
      case ':': UsageError(std::string("option '") + argv[optind - 1] + "' needs a value");
      default:
        UsageError(optopt ? std::string("unknown option '-") + static_cast<char>(optopt) + "'"
                          : std::string("unknown option '") + argv[optind - 1] + "'");
    }
  }
  if (optind >= argc) UsageError("no run file given");
  if (argc - optind > 1) UsageError(std::string("more than one run file given: '") + argv[optind + 1] + "'");
  options.run_file = argv[optind];

  if (!options.timestamp) {
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch && *epoch) {
      options.timestamp = ParseTimestamp(epoch, "SOURCE_DATE_EPOCH");
    }
  }
  return options;
}

// The results log's name expanded once, by str::expand_strictly, so that
// every result file is placed from the same name; `source` (the option, or
// the run file and its field) names it in the message when it is refused.
std::string ExpandOutputName(const std::string& name, const std::string& source) {
  std::string problem;
  const std::string expanded = qorv::str::expand_strictly(name, problem);
  if (problem.empty() && expanded.empty()) problem = "'" + name + "' expands to an empty name";
  if (!problem.empty()) {
    std::cerr << kProgram << ": " << qorv::str::escape_controls(source + ": " + problem, false) << "\n";
    std::exit(2);
  }
  return expanded;
}

// The directories extensions are looked for in, in order: those of
// --extensions, then the installation's unless told otherwise.
std::vector<std::string> ExtensionDirectories(const Options& options, const qorv::Config& config) {
  std::vector<std::string> directories = options.extension_dirs;
  if (options.installed_extensions || directories.empty()) {
    directories.push_back(qorv::postprocessor::installed_extensions_dir(config.install_dir));
  }
  return directories;
}

// The first of directories that holds the extension name, if any.
std::optional<std::string> FindExtension(const std::string& name, const std::vector<std::string>& directories) {
  for (const auto& directory : directories) {
    if (!qorv::util_extensions::scan_files(directory, {name}).empty()) return directory;
  }
  return std::nullopt;
}

// The command line's settings over those of the run file.
void Apply(const Options& options, bool file_names_extensions, qorv::Config& config) {
  if (options.output) config.output_file = *options.output;
  if (options.install_dir) {
    config.install_dir = *options.install_dir;
  } else if (config.install_dir.empty()) {
    config.install_dir = DefaultInstallDir();
  }
  if (options.fail_level) config.fail_level = *options.fail_level;
  if (options.timestamp) config.timestamp = *options.timestamp;

  const auto directories = ExtensionDirectories(options, config);
  if (!options.extensions.empty()) {
    config.extension_specs.clear();
    for (const auto& name : options.extensions) {
      const auto found = FindExtension(name, directories);
      if (!found) {
        std::string searched;
        for (const auto& directory : directories) searched += (searched.empty() ? "" : ", ") + directory;
        std::cerr << kProgram << ": "
                  << qorv::str::escape_controls("--extension: no extension '" + name + "' in " + searched +
                                                    " (neither lib" + name + ".so nor " + name + ".so)",
                                                false)
                  << "\n";
        std::exit(1);
      }
      config.extension_specs.push_back({{name}, *found});
    }
  } else if (!file_names_extensions) {
    // The defaults that are installed; the others are skipped rather than
    // missed. With none installed all are named, so that the run says so.
    config.extension_specs.clear();
    const std::vector<std::string> defaults = DefaultExtensions();
    for (const auto& name : defaults) {
      if (const auto found = FindExtension(name, directories)) config.extension_specs.push_back({{name}, *found});
    }
    if (config.extension_specs.empty()) config.extension_specs = {{defaults, directories.front()}};
  }
}

// The metrics file (--metrics-file, else the run file's metrics_file),
// expanded once like the output name: qorv_metrics runs besides the run's
// extensions and writes it instead of the file beside the results log.
// node_exporter's textfile collector reads only files named *.prom, so any
// other name is refused (status 2).
void PlaceMetrics(const Options& options, const qorv::tools::RunFile& run) {
  const std::string name = options.metrics_file.value_or(run.metrics_file);
  if (name.empty()) {
    if (options.metrics_mode) UsageError("--metrics-mode needs a metrics file (--metrics-file or metrics_file)");
    return;
  }
  const std::string source = options.metrics_file ? std::string("--metrics-file") : options.run_file + ": metrics_file";
  const std::string path = ExpandOutputName(name, source);
  const std::string file = qorv::str::basename(path);
  if (path.back() == '/' || file.size() <= 5 || file.compare(file.size() - 5, 5, ".prom") != 0) {
    std::cerr << kProgram << ": "
              << qorv::str::escape_controls(source + ": '" + path +
                                                "' does not end in .prom: node_exporter's textfile "
                                                "collector reads only files named *.prom",
                                            false)
              << "\n";
    std::exit(2);
  }
  const auto directories = ExtensionDirectories(options, *run.config);
  const std::string directory = FindExtension("qorv_metrics", directories).value_or(directories.front());
  run.config->placed_files = {{"qorv_metrics", directory, path, options.metrics_mode.value_or(kMetricsMode)}};
}

}  // namespace

// qorv-postprocess diff [--json] OLD.json NEW.json
int Diff(int argc, char** argv) {
  static const option kLongOptions[] = {{"json", no_argument, nullptr, 'j'},
                                        {"all", no_argument, nullptr, 'a'},
                                        {"help", no_argument, nullptr, 'h'},
                                        {nullptr, 0, nullptr, 0}};
  qorv::tools::DiffOptions options;
  optind = 1;
  opterr = 0;  // one message of our own instead of getopt's
  // Options may stand anywhere on the line, as for the main command.
  for (int option; (option = getopt_long(argc, argv, ":h", kLongOptions, nullptr)) != -1;) {
    if (option == 'j') {
      options.json = true;
    } else if (option == 'a') {
      options.all = true;
    } else if (option == 'h') {
      std::cout << "Usage: " << kProgram << " diff [--json] [--all] OLD.json NEW.json\n"
                << "Compare the JSON results of two runs (qorv_results.json): a summary line, the\n"
                   "issues that are new and resolved (the same id, severity group and message),\n"
                   "how many are still present, the nodes that newly have issues and those that\n"
                   "are clean again.\n"
                   "\n"
                   "      --all    list the issues still present too\n"
                   "      --json   write the comparison as JSON (always with every issue)\n"
                   "\n"
                   "Exit status: 0 no new issue contributes to FAIL, 1 one does, 2 bad usage or a\n"
                   "file that is not a results document.\n";
      return 0;
    } else {
      UsageError(std::string("diff: unknown option '") + argv[optind - 1] + "'");
    }
  }
  if (argc - optind != 2) UsageError("diff needs two results files, OLD.json and NEW.json");
  options.old_file = argv[optind];
  options.new_file = argv[optind + 1];
  try {
    return qorv::tools::DiffResults(options, std::cout);
  } catch (const qorv::tools::ResultsError& error) {
    std::cerr << kProgram << ": " << error.what() << "\n";
    return 2;
  } catch (const std::bad_alloc&) {
    // Not 1: that would say a new issue contributes to FAIL.
    std::cerr << kProgram << ": not enough memory to compare the results\n";
    return 2;
  }
}

namespace {

int Run(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  // An extension directory that is not there would leave the run to
  // extensions found elsewhere, or to none.
  for (const auto& directory : options.extension_dirs) {
    struct stat info {};
    if (::stat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
      std::cerr << kProgram << ": --extensions: " << qorv::str::escape_controls(directory, false)
                << ": no such directory\n";
      return 2;
    }
  }

  qorv::tools::RunFile run;
  try {
    run = qorv::tools::ReadRunFile(options.run_file);
  } catch (const qorv::tools::RunFileError& error) {
    std::cerr << kProgram << ": " << error.what() << "\n";
    return 2;
  } catch (const std::bad_alloc&) {
    std::cerr << kProgram << ": " << options.run_file << ": not enough memory to read the run file\n";
    return 2;
  }
  Apply(options, run.names_extensions, *run.config);
  if (!run.config->output_file.empty()) {
    run.config->output_file = ExpandOutputName(
        run.config->output_file, options.output ? std::string("--output") : options.run_file + ": output_file");
    // A directory, or a name ending in "/", holds the results under their default names.
    std::string& output = run.config->output_file;
    struct stat info {};
    if (output.back() == '/' || (::stat(output.c_str(), &info) == 0 && S_ISDIR(info.st_mode))) {
      output += (output.back() == '/' ? "" : "/") + std::string("qorv_results.log");
    }
  }
  PlaceMetrics(options, run);

  // The installation's rules, then those named; all are checked before any
  // record is marked or anything is written.
  qorv::tools::Suppressions suppressions;
  try {
    suppressions.Load(run.config->install_dir + "/etc/qorv.xml", true);
    for (const auto& file : options.suppression_files) suppressions.Load(file, false);
  } catch (const qorv::tools::SuppressionError& error) {
    std::cerr << kProgram << ": " << error.what() << "\n";
    return 2;
  } catch (const std::bad_alloc&) {
    std::cerr << kProgram << ": not enough memory to read the suppression files\n";
    return 2;
  }
  for (const auto& unmatched : suppressions.Apply(*run.config)) {
    std::cerr << kProgram << ": warning: " << unmatched << "\n";
  }
  if (run.config->nodes.empty()) {
    std::cerr << kProgram << ": warning: " << options.run_file
              << ": the run tested no nodes; its verdict covers nothing\n";
  }

  int status = 0;
  qorv::postprocessor::RunOutcome outcome;
  try {
    if (options.process_only) {
      qorv::postprocessor::process_issues(run.config);
    } else {
      qorv::postprocessor::RunOptions run_options;
      run_options.derive_verdict = !run.states_verdict;
      status = qorv::postprocessor::run_postprocessor(run.config, run_options, outcome) == 0 ? 0 : 1;
    }
  } catch (const std::bad_alloc&) {
    // Before std::exception, which would name it only as "std::bad_alloc".
    std::cerr << kProgram << ": not enough memory to finish the run; no result file was replaced\n";
    return 1;
  } catch (const KVAL_2_18::i18n::CatalogError& error) {
    // A message catalogue that fails to load stops the run before any report.
    std::cerr << kProgram << ": " << error.what() << "\n";
    return 2;
  } catch (const std::exception& error) {
    std::cerr << kProgram << ": the run stopped: " << error.what() << "\n";
    return 1;
  }
  if (status == 0 && options.fail_exit && !options.process_only && !outcome.passed) status = kFailStatus;
  // exit() rather than return: the process's end frees the run's records at
  // once, where destroying a million of them one by one takes a while.
  // Static objects (the output log and its files) are still closed.
  std::exit(status);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "diff") return Diff(argc - 1, argv + 1);
  if (argc > 1 && std::string(argv[1]) == "drain") return qorv::tools::DrainCommand(argc - 1, argv + 1);
  try {
    return Run(argc, argv);
  } catch (const std::bad_alloc&) {
    // Reading the files and the run say so themselves; this is what is
    // left, all before anything is written.
    std::cerr << kProgram << ": not enough memory to prepare the run; nothing was written\n";
    return 1;
  }
}
