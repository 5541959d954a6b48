// Runs the built qorv-postprocess on small run files in temporary
// directories and checks its exit status, its messages and the files it
// leaves behind.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "postprocessor/version.h"
#include "tests/support/temp_dir.h"

namespace {

using qorv::testing::ReadFile;
using qorv::testing::TempDir;

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the program with args in directory cwd, with SOURCE_DATE_EPOCH set
// to epoch when it is not null.
Result RunProgram(const std::vector<std::string>& args, const std::string& cwd, const char* epoch = nullptr) {
  TempDir capture;
  const std::string out = capture / "out", err = capture / "err";
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(cwd.c_str()) != 0) ::_exit(127);
    ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
    ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
    epoch ? ::setenv("SOURCE_DATE_EPOCH", epoch, 1) : ::unsetenv("SOURCE_DATE_EPOCH");
    std::vector<char*> argv{const_cast<char*>(QORV_POSTPROCESS)};
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(QORV_POSTPROCESS, argv.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
}

// A small run on one node whose message comes from a catalogue in the
// run's directory; `extra` adds fields at the top.
std::string SmallRun(const std::string& extra = "") {
  return R"({
  "nodes": [{"name": "n1"}],
  "fwds": [{"name": "basic", "signs": ["mem"], "catalogs": [{"directory": "./", "files": ["c.xml"]}]}],
  "observation_ids": {"qorv-low": ["mem"]},
  "observations": [{"id": "qorv-low", "severity": 80, "nodes": ["n1"], "args": ["n1"]}],
  "issues": [{"id": "qorv-low", "severity": 80, "nodes": ["n1"], "args": ["n1"]}])" +
         extra + "\n}\n";
}

// The small run with its definition depending on `on`.
std::string Depending(const std::string& on) {
  std::string run = SmallRun();
  const std::string name = R"("name": "basic",)";
  return run.replace(run.find(name), name.size(), name + R"( "depends_on": [[")" + on + R"("]],)");
}

const char kCatalog[] = R"(<message-catalog language="en"><message id="qorv-low">Memory low on {0}.</message></message-catalog>)";

class QorvPostprocess : public ::testing::Test {
 protected:
  void SetUp() override { dir.Write("c.xml", kCatalog); }

  // Runs with the build's extensions; the results log is category_log's.
  Result RunWith(const std::string& run, std::vector<std::string> args) {
    dir.Write("run.json", run);
    args.insert(args.begin(), {"run.json", "--extensions", QORV_EXTENSION_DIR});
    return RunProgram(args, dir.path().string());
  }

  TempDir dir;
};

struct Case {
  const char* name;
  std::string run;                  // written as run.json
  std::vector<std::string> args;    // after run.json and the extension directory
  int status;
  std::vector<std::string> err;     // each must appear on standard error
};

TEST_F(QorvPostprocess, ExitStatusAndMessages) {
  const std::vector<Case> cases = {
      {"pass", SmallRun(), {"-e", "category_log"}, 0, {}},
      {"no extension found", SmallRun(), {"--extension", "no_such_extension", "--install-dir", "."}, 1,
       {"No postprocessor extensions could be loaded"}},
      {"malformed json", "{\n  \"nodes\": [\n    {\"name\": \"n1\"},,\n  ]\n}\n", {}, 2,
       {"run.json:3:20: expected a value"}},
      {"file ends early", "{\"nodes\": [", {}, 2, {"run.json:1:12: the file ends early"}},
      {"wrong type", SmallRun(",\n  \"diagnoses\": [{\"id\": \"a\"}, {\"id\": \"b\", \"severity\": \"high\"}]"), {}, 2,
       {"run.json:7:54: diagnoses[1].severity: expected a number, found a string"}},
      {"severity out of range", SmallRun(",\n  \"third\": [{\"id\": \"a\", \"severity\": 1e300}]"), {}, 2,
       {"third[0].severity: 1e300 is out of range (a whole number from 0 to 100)"}},
      {"negative severity", SmallRun(",\n  \"third\": [{\"id\": \"a\", \"severity\": -5}]"), {}, 2,
       {"third[0].severity: -5 is out of range"}},
      {"fail level out of range", SmallRun(",\n  \"fail_level\": 1e20"), {}, 2, {"fail_level: 1e20 is out of range"}},
      {"integer beyond 64 bits", SmallRun(",\n  \"third\": [{\"id\": \"a\", \"args\": [99999999999999999999]}]"), {}, 2,
       {"third[0].args[0]: 99999999999999999999 is out of range"}},
      {"unknown field", SmallRun(",\n  \"fwd\": []"), {}, 2, {"unknown field 'fwd' (did you mean 'fwds'?)"}},
      {"dependency cycle", Depending("basic"), {}, 2, {"fwds[0].depends_on[0][0]: the Framework Definitions depend on each other in a cycle: basic -> basic"}},
      {"unknown dependency", Depending("x"), {}, 2, {"no Framework Definition 'x'"}},
      {"fail level option out of range", SmallRun(), {"--fail-level", "101"}, 2,
       {"--fail-level: '101' is not a severity from 0 to 100", "Try 'qorv-postprocess --help'"}},
      {"time stamp option malformed", SmallRun(), {"--timestamp=soon"}, 2, {"--timestamp: 'soon' is not a time stamp"}},
      {"unknown option", SmallRun(), {"--colour"}, 2, {"unknown option '--colour'", "Try 'qorv-postprocess --help'"}},
      {"two run files", SmallRun(), {"other.json"}, 2, {"more than one run file given"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Result result = RunWith(c.run, c.args);
    EXPECT_EQ(result.status, c.status) << result.err;
    for (const auto& text : c.err) EXPECT_NE(result.err.find(text), std::string::npos) << result.err;
    // A refused run says so in one line (plus the hint for usage errors).
    if (c.status == 2) {
      EXPECT_LE(std::count(result.err.begin(), result.err.end(), '\n'), 2) << result.err;
    }
  }
}

TEST_F(QorvPostprocess, HelpVersionAndMissingFiles) {
  const Result help = RunProgram({"--help"}, dir.path().string());
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: qorv-postprocess", 0), 0u);
  const Result version = RunProgram({"--version"}, dir.path().string());
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("qorv-postprocess (Quorvane) ") + qorv::postprocessor::kProductVersion + "\n");

  const Result none = RunProgram({}, dir.path().string());
  EXPECT_EQ(none.status, 2);
  EXPECT_NE(none.err.find("no run file given"), std::string::npos);
  const Result missing = RunProgram({"absent.json"}, dir.path().string());
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err, "qorv-postprocess: absent.json: cannot open the run file: No such file or directory\n");
}

TEST_F(QorvPostprocess, ARefusedRunLeavesTheResultsAlone) {
  dir.Write("qorv_results.log", "results of the last run\n");
  EXPECT_EQ(RunWith("{\"nodes\": [}", {"-e", "category_log"}).status, 2);
  EXPECT_EQ(ReadFile(dir / "qorv_results.log"), "results of the last run\n");

  // A catalogue that does not load stops the run before any report.
  std::filesystem::remove(dir / "qorv_results.log");
  std::filesystem::remove(dir / "c.xml");
  const Result result = RunWith(SmallRun(), {"-e", "category_log"});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.err.rfind("qorv-postprocess: ", 0), 0u) << result.err;
  EXPECT_NE(result.err.find("c.xml"), std::string::npos) << result.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "qorv_results.log"));
}

TEST_F(QorvPostprocess, OutputOptionPlacesTheResults) {
  const Result result = RunWith(SmallRun(), {"-e", "category_log", "--output", "out/run.log"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_NE(ReadFile(dir / "out/run.log").find("Memory low on n1."), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir / "qorv_results.log"));
  EXPECT_NE(result.out.find("See the following files for more information: out/run.log"), std::string::npos);
}

TEST_F(QorvPostprocess, ProcessOnlyWritesNothing) {
  // The option wins over a malformed SOURCE_DATE_EPOCH, which is then not read.
  dir.Write("run.json", SmallRun());
  const Result result =
      RunProgram({"run.json", "--process-only", "--timestamp", "1700000000", "--extensions", QORV_EXTENSION_DIR},
          dir.path().string(), "yesterday");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) ++files;
  EXPECT_EQ(files, 2u);  // run.json and c.xml

  const Result bad_epoch = RunProgram({"run.json", "--process-only"}, dir.path().string(), "0");
  EXPECT_EQ(bad_epoch.status, 2);
  EXPECT_NE(bad_epoch.err.find("SOURCE_DATE_EPOCH: '0' is not a time stamp"), std::string::npos);
}

TEST(QorvPostprocessSample, TheBundledSampleRunsCleanly) {
  TempDir work;
  const Result result = RunProgram({std::string(QORV_SOURCE_DIR) + "/examples/sample/run.json", "--extensions",
                             QORV_EXTENSION_DIR, "--timestamp", "1765000000"},
                            work.path().string());
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_TRUE(std::filesystem::exists(work / "qorv_results.log"));
}

}  // namespace
