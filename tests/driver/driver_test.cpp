// Drives run_postprocessor with real extension libraries in temporary
// working directories and checks files, console and standard error.
#include "postprocessor/postprocessor.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/capture.h"
#include "tests/support/temp_dir.h"

namespace qorv::postprocessor {
namespace {

using qorv::testing::CaptureOutput;
using qorv::testing::ReadFile;
using qorv::testing::TempDir;

const std::string kPlugins = QORV_TEST_PLUGIN_DIR;

std::string Plugin(const std::string& name) { return kPlugins + "/lib" + name + ".so"; }

const char kSeeFiles[] = "See the following files for more information: ";

class DriverTest : public ::testing::Test {
 protected:
  DriverTest() : work_(true), config_(std::make_shared<Config>()) {}

  void UseExtensions(std::vector<std::string> names) {
    config_->extension_specs.push_back(ExtensionSpec{std::move(names), kPlugins});
  }

  // Runs the driver with standard input away from any terminal.
  int Run(CaptureOutput& capture) {
    (void)capture;
    return run_postprocessor(config_);
  }

  TempDir work_;
  std::shared_ptr<Config> config_;
};

TEST_F(DriverTest, ConfigurationSpecsWinOverFrameworkDefinitionSpecs) {
  UseExtensions({"category_log"});
  auto fwd = std::make_shared<Fwd>();
  fwd->name = "fwd";
  fwd->extension_specs.push_back(ExtensionSpec{{"reports"}, kPlugins});
  config_->fwd_attributes->fwds["fwd"] = fwd;

  CaptureOutput capture;
  EXPECT_EQ(Run(capture), 0);
  EXPECT_EQ(ReadFile("qorv_results.log"), "category_log width=80 fail_level=25 issues=0\ncategory_log destroyed\n");
  EXPECT_EQ(capture.out(), std::string(kSeeFiles) + "qorv_results.log\n");
  EXPECT_EQ(capture.err(), "");
}

TEST_F(DriverTest, FrameworkDefinitionSpecsThenDefaultDirectory) {
  auto fwd = std::make_shared<Fwd>();
  fwd->extension_specs.push_back(ExtensionSpec{{}, kPlugins});  // names nothing: skipped
  fwd->extension_specs.push_back(ExtensionSpec{{"qorv_json"}, kPlugins});
  config_->fwd_attributes->fwds["b"] = fwd;
  {
    CaptureOutput capture;
    EXPECT_EQ(Run(capture), 0);
    EXPECT_EQ(capture.out(), std::string(kSeeFiles) + "qorv_results.json\n");
  }

  config_->fwd_attributes->fwds.clear();
  config_->install_dir = work_ / "install";
  const std::string defaults = config_->install_dir + "/postprocessor/ostra64/extensions/";
  std::filesystem::create_directories(defaults);
  for (const char* name : {"category_log", "qorv_execution_warnings", "category_summary"}) {
    std::filesystem::copy_file(Plugin(name), defaults + "lib" + name + ".so");
  }
  CaptureOutput capture;
  EXPECT_EQ(Run(capture), 0);
  // The default list runs category_summary on the console first.
  EXPECT_EQ(capture.out(),
            "category_summary width=80 fail_level=25 issues=0\ncategory_summary destroyed\n" + std::string(kSeeFiles) +
                "qorv_results.log, qorv_execution_warnings.log\n");
  EXPECT_EQ(ReadFile("qorv_execution_warnings.log"),
            "qorv_execution_warnings width=80 fail_level=25 issues=0\nqorv_execution_warnings destroyed\n");
}

TEST_F(DriverTest, SharedResultFileIsTruncatedOnceThenAppended) {
  work_.Write("qorv_results.log", "stale report of an earlier run\n");
  UseExtensions({"category_log", "reports", "category_log"});

  CaptureOutput capture;
  EXPECT_EQ(Run(capture), 0);
  EXPECT_EQ(ReadFile("qorv_results.log"),
            "category_log width=80 fail_level=25 issues=0\ncategory_log destroyed\n"
            "reports width=80 fail_level=25 issues=0\nreports destroyed\n");
  EXPECT_EQ(capture.out(), std::string(kSeeFiles) + "qorv_results.log\n");

  struct stat info {};
  ASSERT_EQ(::stat("qorv_results.log", &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0660u);
}

TEST_F(DriverTest, OutputFileRedirectsResultsJsonAndWarnings) {
  config_->output_file = "out/run.log";
  UseExtensions({"category_log", "qorv_json", "qorv_execution_warnings"});

  CaptureOutput capture;
  EXPECT_EQ(Run(capture), 0);
  EXPECT_NE(ReadFile("out/run.log").find("category_log width=80"), std::string::npos);
  EXPECT_NE(ReadFile("out/run.json").find("qorv_json width=80"), std::string::npos);
  EXPECT_NE(ReadFile("out/qorv_execution_warnings.log").find("qorv_execution_warnings"), std::string::npos);
  EXPECT_EQ(capture.out(), std::string(kSeeFiles) + "out/run.log, out/run.json, out/qorv_execution_warnings.log\n");
}

TEST_F(DriverTest, UncreatableOutputDirectoryFallsBackToWorkingDirectory) {
  work_.Write("out", "a file where the directory should be");
  config_->output_file = "out/run.log";
  UseExtensions({"category_log", "qorv_json", "qorv_execution_warnings"});

  CaptureOutput capture;
  EXPECT_EQ(Run(capture), 0);
  EXPECT_NE(ReadFile("run.log").find("category_log"), std::string::npos);
  EXPECT_NE(ReadFile("run.json").find("qorv_json"), std::string::npos);
  EXPECT_NE(ReadFile("qorv_execution_warnings.log").find("qorv_execution_warnings"), std::string::npos);
  EXPECT_EQ(capture.out(), std::string(kSeeFiles) + "run.log, run.json, qorv_execution_warnings.log\n");
  // Each file says where it went instead.
  const std::string cannot = "Cannot create the directory out: Not a directory; writing ";
  EXPECT_EQ(capture.err(), cannot + "run.log in the working directory instead.\n" + cannot +
                               "run.json in the working directory instead.\n" + cannot +
                               "qorv_execution_warnings.log in the working directory instead.\n");
}

TEST_F(DriverTest, OneFileUnderTwoSpellingsIsTruncatedOnce) {
  // The results log and the warnings log are one file here, named
  // "out//qorv_execution_warnings.log" and "out/qorv_execution_warnings.log".
  config_->output_file = "out//qorv_execution_warnings.log";
  UseExtensions({"category_log", "qorv_execution_warnings"});
  CaptureOutput capture;
  EXPECT_EQ(Run(capture), 0);
  const std::string both = ReadFile("out/qorv_execution_warnings.log");
  EXPECT_NE(both.find("category_log"), std::string::npos);
  EXPECT_NE(both.find("qorv_execution_warnings"), std::string::npos);
  EXPECT_EQ(capture.out(), std::string(kSeeFiles) + "out//qorv_execution_warnings.log\n");
}

// A results log named like the JSON results: the JSON must not be appended
// to the log, which would leave neither file readable.
TEST_F(DriverTest, JsonResultsNeverShareAFileWithATextReport) {
  config_->output_file = "out/run.json";
  UseExtensions({"category_log", "qorv_json", "qorv_execution_warnings"});
  CaptureOutput capture;
  EXPECT_EQ(Run(capture), 1);
  EXPECT_EQ(ReadFile("out/run.json"), "category_log width=80 fail_level=25 issues=0\ncategory_log destroyed\n");
  EXPECT_EQ(capture.err(), "Error opening output file out/run.json.\n  out/run.json holds another result already; "
                           "give the results log (output_file) a name whose extension is not .json.\n");
  EXPECT_EQ(capture.out(), "");
}

TEST_F(DriverTest, OutputDirectoryIsMadeFromTheExpandedName) {
  ::setenv("QORV_TEST_OUT", "expanded", 1);
  config_->output_file = "$QORV_TEST_OUT/run.log";
  UseExtensions({"category_log"});
  CaptureOutput capture;
  EXPECT_EQ(Run(capture), 0);
  ::unsetenv("QORV_TEST_OUT");
  EXPECT_NE(ReadFile("expanded/run.log").find("category_log"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists("$QORV_TEST_OUT"));
}

TEST_F(DriverTest, JsonFileDropsOnlyTheLastExtensionOfTheFileName) {
  const struct {
    const char* output_file;
    const char* json;
  } cases[] = {
      {"results", "results.json"},
      {"out.d/run", "out.d/run.json"},
      {"out.d/run.log", "out.d/run.json"},
      {"./results", "./results.json"},
      {"out/.results", "out/.results.json"},
      {"run.tar.log", "run.tar.json"},
  };
  UseExtensions({"qorv_json"});
  for (const auto& test : cases) {
    config_->output_file = test.output_file;
    CaptureOutput capture;
    EXPECT_EQ(Run(capture), 0);
    EXPECT_EQ(capture.out(), std::string(kSeeFiles) + test.json + "\n") << test.output_file;
    EXPECT_NE(ReadFile(test.json).find("qorv_json"), std::string::npos) << test.output_file;
  }
}

TEST_F(DriverTest, BrokenExtensionsAreReportedAndTheOthersStillRun) {
  work_.Write("libgarbage.so", "not a shared object");
  config_->extension_specs.push_back(ExtensionSpec{{"garbage"}, work_.path().string()});
  UseExtensions({"no_create", "null_create", "failing_run", "throwing_run", "category_log"});

  CaptureOutput capture;
  EXPECT_EQ(Run(capture), 1);
  const std::string err = capture.err();
  const std::string garbage = (work_.path() / "libgarbage.so").string();
  EXPECT_EQ(err.rfind("Error opening extension library " + garbage + ": '", 0), 0u) << err;
  EXPECT_NE(err.find("'\nError creating constructor for: " + Plugin("no_create") + "\n" +
                     "Error loading constructor for: " + Plugin("null_create") + "\n" +
                     "Error running postprocessor extension: " + Plugin("failing_run") + "\n" +
                     "Error running postprocessor extension: " + Plugin("throwing_run") + "\n"),
            std::string::npos)
      << err;
  // Failing objects are still destroyed; the extension after them runs.
  EXPECT_NE(capture.out().find("failing_run destroyed\n"), std::string::npos);
  EXPECT_NE(capture.out().find("throwing_run destroyed\n"), std::string::npos);
  EXPECT_NE(ReadFile("qorv_results.log").find("category_log width=80"), std::string::npos);
}

TEST_F(DriverTest, NoExtensionFoundIsAnError) {
  config_->install_dir = work_ / "nowhere";
  CaptureOutput capture;
  EXPECT_EQ(Run(capture), 1);
  EXPECT_EQ(capture.err(),
            "No postprocessor extensions could be loaded.  Please check their specifications in the configuration "
            "file or the Framework Definitions.  Exiting.\n");
  EXPECT_EQ(capture.out(), "");
}

TEST_F(DriverTest, UnopenableOutputFileStopsTheRun) {
  std::filesystem::create_directories("taken.log");
  config_->output_file = "taken.log";
  UseExtensions({"category_summary", "category_log", "reports"});

  CaptureOutput capture;
  EXPECT_EQ(Run(capture), 1);
  EXPECT_EQ(capture.err(), "Error opening output file taken.log.\n  Is a directory\n");
  // The console extension before it ran; nothing after it, and no closing line.
  EXPECT_EQ(capture.out(), "category_summary width=80 fail_level=25 issues=0\ncategory_summary destroyed\n");
}

// A full disk: the extension's writes fail, and the run must not pass.
TEST_F(DriverTest, UnwritableOutputFileStopsTheRun) {
  std::filesystem::create_symlink("/dev/full", "full.log");
  config_->output_file = "full.log";
  UseExtensions({"category_log", "category_summary"});

  CaptureOutput capture;
  EXPECT_EQ(Run(capture), 1);
  EXPECT_EQ(capture.err(), "Error writing output file full.log: No space left on device.\n");
  EXPECT_EQ(capture.out(), "");
}

TEST_F(DriverTest, ValueFieldsAreTheExtensionsOwnSharedFieldsAreShared) {
  config_->fail_level = 50;
  config_->issue_lists[Config::ISSUES].push_back(std::make_shared<analysis::AnalysisOutput>());
  UseExtensions({"mutator", "category_log"});

  CaptureOutput capture;
  EXPECT_EQ(Run(capture), 0);
  // mutator sets its fail_level to 99 and adds an issue to the shared list.
  EXPECT_EQ(capture.out().rfind("mutator width=80 fail_level=50 issues=1\n", 0), 0u);
  EXPECT_EQ(ReadFile("qorv_results.log"), "category_log width=80 fail_level=50 issues=2\ncategory_log destroyed\n");
  EXPECT_EQ(config_->issue_lists[Config::ISSUES].size(), 1u);
}

TEST_F(DriverTest, CatalogueFailureLeavesBeforeAnyExtensionRuns) {
  work_.Write("broken.xml", "<message-catalog><message id=\"m\">{</message></message-catalog>");
  auto fwd = std::make_shared<Fwd>();
  fwd->catalog_files.push_back(FileGroup{{"broken.xml"}, work_.path().string() + "/"});
  config_->fwd_attributes->fwds["fwd"] = fwd;
  UseExtensions({"category_log"});
  CaptureOutput capture;
  EXPECT_THROW(run_postprocessor(config_), std::runtime_error);
  EXPECT_FALSE(std::filesystem::exists("qorv_results.log"));
}

TEST_F(DriverTest, ProcessIssuesLoadsNoExtension) {
  UseExtensions({"category_log"});
  CaptureOutput capture;
  process_issues(config_);
  EXPECT_EQ(capture.out(), "");
  EXPECT_FALSE(std::filesystem::exists("qorv_results.log"));
}

}  // namespace
}  // namespace qorv::postprocessor
