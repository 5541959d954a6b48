// Drives run_postprocessor with real extension libraries in temporary
// working directories and checks files, console and standard error.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "postprocessor/postprocessor.h"
#include "tests/support/capture.h"
#include "tests/support/temp_dir.h"

namespace qorv::postprocessor {
namespace {

using qorv::testing::CaptureOutput;
using qorv::testing::ReadFile;
using qorv::testing::TempDir;
namespace fs = std::filesystem;

const std::string kPlugins = QORV_TEST_PLUGIN_DIR;
const std::string kSee = "See the following files for more information: ";

std::string Plugin(const std::string& name) { return kPlugins + "/lib" + name + ".so"; }

// What a test extension writes from its run and its destructor.
std::string Wrote(const std::string& name, int fail_level = 25, int issues = 0) {
  return name + " width=80 fail_level=" + std::to_string(fail_level) + " issues=" + std::to_string(issues) + "\n" +
         name + " destroyed\n";
}

void AddFwdSpec(Config& config, const std::string& fwd, std::vector<std::string> names) {
  auto& definition = config.fwd_attributes->fwds[fwd];
  if (!definition) definition = std::make_shared<Fwd>();
  definition->extension_specs.push_back(ExtensionSpec{std::move(names), kPlugins});
}

// One run in a fresh working directory: what is set up before, the results
// log it is given and the extensions it names, then what it must leave.
struct RunCase {
  const char* name;
  std::function<void(Config&)> prepare;
  std::string output_file;
  std::vector<std::string> extensions;
  int status;
  std::string out, err;
  std::map<std::string, std::string> files;  // path to whole content
};

TEST(DriverTest, RunsWriteTheirResultFilesAndReportWhatFails) {
  const std::string cannot = "Cannot create the directory out: Not a directory; writing ";
  const auto missing = [](const std::string& name) {
    return "No postprocessor extension '" + name + "' in nowhere/postprocessor/ostra64/extensions/ (neither lib" +
           name + ".so nor " + name + ".so).\n";
  };
  const std::string no_extension =
      "No postprocessor extensions could be loaded.  Please check their specifications in the configuration file or "
      "the Framework Definitions.  Exiting.\n";
  // clang-format off
  const std::vector<RunCase> cases = {
      {"configuration specs win over definition specs", [](Config& c) { AddFwdSpec(c, "fwd", {"reports"}); }, "",
       {"category_log"}, 0, kSee + "qorv_results.log\n", "", {{"qorv_results.log", Wrote("category_log")}}},
      {"definition specs when the configuration names none",
       [](Config& c) {
         AddFwdSpec(c, "a", {});  // names nothing: skipped
         AddFwdSpec(c, "b", {"qorv_json"});
       },
       "", {}, 0, kSee + "qorv_results.json\n", "", {{"qorv_results.json", Wrote("qorv_json")}}},
      {"the default list from the installation, console extension first",
       [](Config& c) {
         c.install_dir = "install";
         fs::create_directories("install/postprocessor/ostra64/extensions");
         for (const char* name : {"category_log", "qorv_execution_warnings", "category_summary"}) {
           fs::copy_file(Plugin(name), std::string("install/postprocessor/ostra64/extensions/lib") + name + ".so");
         }
       },
       "", {}, 0, Wrote("category_summary") + kSee + "qorv_results.log, qorv_execution_warnings.log\n", "",
       {{"qorv_results.log", Wrote("category_log")},
        {"qorv_execution_warnings.log", Wrote("qorv_execution_warnings")}}},
      {"no extension found: each default one is named with the directory searched", nullptr, "", {}, 1, "",
       missing("category_summary") + missing("category_log") + missing("qorv_execution_warnings") + no_extension, {}},
      {"a named extension that is not there fails the run before anything runs", nullptr, "",
       {"category_log", "nothere"}, 1, "",
       "No postprocessor extension 'nothere' in " + kPlugins + " (neither libnothere.so nor nothere.so).\n", {}},
      {"a shared result file is truncated once, then appended, each library run once",
       [](Config&) { std::ofstream("qorv_results.log") << "stale report\n"; }, "",
       {"category_log", "reports", "category_log"}, 0, kSee + "qorv_results.log\n", "",
       {{"qorv_results.log", Wrote("category_log") + Wrote("reports")}}},
      {"output_file redirects the log, the JSON and the warnings", nullptr, "out/run.log",
       {"category_log", "qorv_json", "qorv_execution_warnings"}, 0,
       kSee + "out/run.log, out/run.json, out/qorv_execution_warnings.log\n", "",
       {{"out/run.log", Wrote("category_log")}, {"out/run.json", Wrote("qorv_json")},
        {"out/qorv_execution_warnings.log", Wrote("qorv_execution_warnings")}}},
      {"an uncreatable directory falls back to the working directory",
       [](Config&) { std::ofstream("out") << "a file where the directory should be"; }, "out/run.log",
       {"category_log", "qorv_json", "qorv_execution_warnings"}, 0,
       kSee + "run.log, run.json, qorv_execution_warnings.log\n",
       cannot + "run.log in the working directory instead.\n" + cannot +
           "run.json in the working directory instead.\n" + cannot +
           "qorv_execution_warnings.log in the working directory instead.\n",
       {{"run.log", Wrote("category_log")}, {"run.json", Wrote("qorv_json")},
        {"qorv_execution_warnings.log", Wrote("qorv_execution_warnings")}}},
      {"one file under two spellings is truncated once", nullptr, "out//qorv_execution_warnings.log",
       {"category_log", "qorv_execution_warnings"}, 0, kSee + "out//qorv_execution_warnings.log\n", "",
       {{"out/qorv_execution_warnings.log", Wrote("category_log") + Wrote("qorv_execution_warnings")}}},
      // Appending the JSON to the log would leave neither file readable;
      // a run that stops leaves every earlier result as it was.
      {"the JSON never shares a file with a text report",
       [](Config&) {
         fs::create_directory("out");
         std::ofstream("out/run.json") << "yesterday";
       },
       "out/run.json",
       {"category_log", "qorv_json", "qorv_execution_warnings"}, 1, "",
       "Error opening output file out/run.json.\n  out/run.json holds another result already; give the results log "
       "(output_file) a name whose extension is not .json.\n",
       {{"out/run.json", "yesterday"}}},
      {"every file is placed from the one expanded name", nullptr, "$QORV_TEST_OUT/run.log",
       {"category_log", "qorv_json"}, 0, kSee + "expanded/run.log, expanded/run.json\n", "",
       {{"expanded/run.log", Wrote("category_log")}, {"expanded/run.json", Wrote("qorv_json")}}},
      // A name whose value would expand again is refused: the reports would
      // otherwise open another file than the one the run places.
      {"a name that would expand twice is refused", nullptr, "$QORV_TEST_TWICE/run.log", {"category_log"}, 1, "",
       "Error opening output file $QORV_TEST_TWICE/run.log: it expands to 'a$QORV_TEST_OUT/run.log', which would "
       "expand again.\n", {}},
      {"json: no extension", nullptr, "results", {"qorv_json"}, 0, kSee + "results.json\n", "",
       {{"results.json", Wrote("qorv_json")}}},
      {"json: a dot in the directory", nullptr, "out.d/run", {"qorv_json"}, 0, kSee + "out.d/run.json\n", "",
       {{"out.d/run.json", Wrote("qorv_json")}}},
      {"json: the last extension replaced", nullptr, "out.d/run.tar.log", {"qorv_json"}, 0,
       kSee + "out.d/run.tar.json\n", "", {{"out.d/run.tar.json", Wrote("qorv_json")}}},
      {"json: dot directory", nullptr, "./results", {"qorv_json"}, 0, kSee + "./results.json\n", "",
       {{"results.json", Wrote("qorv_json")}}},
      {"json: hidden file", nullptr, "out/.results", {"qorv_json"}, 0, kSee + "out/.results.json\n", "",
       {{"out/.results.json", Wrote("qorv_json")}}},
      // The console extension before the failing file ran; nothing after it.
      {"an unopenable results log stops the run", [](Config&) { fs::create_directories("taken.log"); }, "taken.log",
       {"category_summary", "category_log", "reports"}, 1, Wrote("category_summary"),
       "Error opening output file taken.log.\n  taken.log is a directory, not a file the reports may replace\n", {}},
      // mutator sets its fail_level to 99 and adds an issue to the shared
      // list, the run's and not the configuration's.
      {"value fields are the extension's own, shared fields are shared",
       [](Config& c) {
         c.fail_level = 50;
         c.issue_lists[Config::ISSUES].push_back(std::make_shared<analysis::AnalysisOutput>());
       },
       "", {"mutator", "category_log"}, 0, Wrote("mutator", 50, 1) + kSee + "qorv_results.log\n", "",
       {{"qorv_results.log", Wrote("category_log", 50, 2)}}},
      // A link planted at a result's name is replaced, never written through.
      {"a link at a result file is replaced, not followed",
       [](Config&) {
         std::ofstream("victim") << "mine";
         fs::create_symlink("victim", "run.log");
       },
       "run.log", {"category_log"}, 0, kSee + "run.log\n", "",
       {{"victim", "mine"}, {"run.log", Wrote("category_log")}}},
  };
  // clang-format on
  ::setenv("QORV_TEST_OUT", "expanded", 1);
  ::setenv("QORV_TEST_TWICE", "a$QORV_TEST_OUT", 1);
  for (const RunCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir work(true);
    auto config = std::make_shared<Config>();
    config->install_dir = "nowhere";
    config->output_file = c.output_file;
    if (!c.extensions.empty()) config->extension_specs.push_back(ExtensionSpec{c.extensions, kPlugins});
    if (c.prepare) c.prepare(*config);
    const std::size_t issues = config->issue_lists[Config::ISSUES].size();
    CaptureOutput capture;
    EXPECT_EQ(run_postprocessor(config), c.status);
    EXPECT_EQ(config->issue_lists[Config::ISSUES].size(), issues);
    EXPECT_EQ(capture.out(), c.out);
    EXPECT_EQ(capture.err(), c.err);
    for (const auto& [path, text] : c.files) EXPECT_EQ(ReadFile(path), text) << path;
    EXPECT_FALSE(fs::exists("$QORV_TEST_OUT"));
    EXPECT_FALSE(fs::exists("aexpanded"));
  }
  ::unsetenv("QORV_TEST_OUT");
  ::unsetenv("QORV_TEST_TWICE");
}

// A write that fails (a full disk, here a file size limit) fails the run,
// and the previous results log stays as it was.
TEST(DriverTest, AFailedWriteLeavesThePreviousResults) {
  TempDir work(true);
  std::ofstream("qorv_results.log") << "yesterday";
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{16, 16};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    auto config = std::make_shared<Config>();
    config->extension_specs = {{{"category_log"}, kPlugins}};
    // Standard error is not captured: a captured copy would meet the limit too.
    ::_exit(run_postprocessor(config) == 1 ? 0 : 1);
  }
  int result = 0;
  ASSERT_EQ(::waitpid(child, &result, 0), child);
  EXPECT_TRUE(WIFEXITED(result) && WEXITSTATUS(result) == 0);
  EXPECT_EQ(ReadFile("qorv_results.log"), "yesterday");
  EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator()), 1);
}

TEST(DriverTest, BrokenExtensionsAreReportedAndTheOthersStillRun) {
  TempDir work(true);
  work.Write("libgarbage.so", "not a shared object");
  auto config = std::make_shared<Config>();
  config->extension_specs = {{{"garbage"}, work.path().string()},
                             {{"no_create", "null_create", "failing_run", "throwing_run", "category_log"}, kPlugins}};
  CaptureOutput capture;
  EXPECT_EQ(run_postprocessor(config), 1);
  const std::string err = capture.err();
  EXPECT_EQ(err.rfind("Error opening extension library " + (work / "libgarbage.so") + ": '", 0), 0u) << err;
  EXPECT_NE(err.find("'\nError creating constructor for: " + Plugin("no_create") + "\n" +
                     "Error loading constructor for: " + Plugin("null_create") + "\n" +
                     "Error running postprocessor extension: " + Plugin("failing_run") + "\n" +
                     "Error running postprocessor extension: " + Plugin("throwing_run") + "\n"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("The result files were left as they were, since a report failed.\n"), std::string::npos);
  // Failing objects are still destroyed; the extension after them runs, but
  // its file does not replace the previous one.
  EXPECT_EQ(capture.out(), Wrote("failing_run") + Wrote("throwing_run"));
  EXPECT_FALSE(fs::exists("qorv_results.log"));
}

// The run's facts and maps are the run's: an extension that changes its run
// data, the records it shares included, does not change what a later one
// reports.
TEST(DriverTest, AnExtensionCannotChangeWhatALaterOneReports) {
  auto run = [](std::vector<std::string> extensions) {
    TempDir work(true);
    auto config = std::make_shared<Config>();
    auto group = std::make_shared<ClusterDefinition>();
    group->name = "rack";
    group->node_names = {"n1", "n2"};
    config->node_groups["rack"] = group;
    for (const auto& [category, node] : {std::pair{"A", "n1"}, {"A", "n2"}, {"B", "n1"}, {"ERROR", "n2"}}) {
      auto record = std::make_shared<analysis::AnalysisOutput>();
      record->id = std::string(category) + node;
      config->category_map[record->id] = category;
      record->subcategory = "rack";
      record->nodes = {node};
      config->issue_lists[Config::ISSUES].push_back(record);
    }
    config->extension_specs = {{extensions, kPlugins}};
    CaptureOutput capture;
    EXPECT_EQ(run_postprocessor(config), 0);
    const std::string out = capture.out();
    return out.substr(out.find("facts_reader: "));
  };
  const std::string alone = run({"facts_reader"});
  EXPECT_EQ(alone.substr(0, alone.find('\n')),
            "facts_reader: 3 issues found - A (2), B (1);   Overall Result: 3 issues found - A (2), B (1); failed 1; "
            "with issues 2; suppressed 0");
  EXPECT_EQ(run({"facts_mutator", "facts_reader"}), alone);
}

TEST(DriverTest, CatalogueFailureLeavesBeforeAnyExtensionRunsAndProcessIssuesRunsNone) {
  TempDir work(true);
  auto config = std::make_shared<Config>();
  config->extension_specs = {{{"category_log"}, kPlugins}};
  CaptureOutput capture;
  process_issues(config);
  EXPECT_FALSE(fs::exists("qorv_results.log"));

  work.Write("broken.xml", "<message-catalog><message id=\"m\">{</message></message-catalog>");
  config->fwd_attributes->fwds["fwd"] = std::make_shared<Fwd>();
  config->fwd_attributes->fwds["fwd"]->catalog_files.push_back(FileGroup{{"broken.xml"}, work.path().string() + "/"});
  EXPECT_THROW(run_postprocessor(config), std::runtime_error);
  EXPECT_FALSE(fs::exists("qorv_results.log"));
  EXPECT_EQ(capture.out(), "");
}

}  // namespace
}  // namespace qorv::postprocessor
