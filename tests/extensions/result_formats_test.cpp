// The qorv_junit and qorv_metrics extensions: the writer of their files,
// their escaping on any bytes, and both run by the real driver on
// hand-built runs. The sample's files are compared byte for byte by the
// installed-program test; check_result_formats.sh checks the files these
// tests leave in QORV_RESULT_SAMPLES with xmllint against
// docs/qorv-junit.xsd, junitparser and promtool.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "extensions/common/result_file.h"
#include "extensions/qorv_junit/xml_text.h"
#include "extensions/qorv_metrics/prometheus_text.h"
#include "postprocessor/postprocessor.h"
#include "tests/extensions/extension_run.h"
#include "tests/report/report_fixture.h"

namespace qorv::postprocessor {
namespace {

using qorv::testing::ReadFile;
using qorv::testing::TempDir;
using Strings = std::vector<std::string>;

const std::string kFffd = "\xEF\xBF\xBD";

TEST(ResultFormatsTest, XmlTextEscapesMarkupAndRepairsAnyBytes) {
  const struct {
    std::string raw, text, attribute;
  } cases[] = {
      {"<a href=\"x\">&'</a>", "&lt;a href=&quot;x&quot;&gt;&amp;&apos;&lt;/a&gt;",
       "&lt;a href=&quot;x&quot;&gt;&amp;&apos;&lt;/a&gt;"},
      {"tab\tnl\ncr\r", "tab\tnl\ncr&#13;", "tab&#9;nl&#10;cr&#13;"},
      {std::string("nul\0bell\aesc\x1b", 13), "nul" + kFffd + "bell" + kFffd + "esc" + kFffd,
       "nul" + kFffd + "bell" + kFffd + "esc" + kFffd},
      {"caf\xC3\xA9 \xF0\x9F\x98\x80 del\x7F", "caf\xC3\xA9 \xF0\x9F\x98\x80 del\x7F",
       "caf\xC3\xA9 \xF0\x9F\x98\x80 del\x7F"},
      // One U+FFFD per maximal ill-formed subsequence: a surrogate is three.
      {"bad \xFF\xC0\xAF \xED\xA0\x80 \xE2\x82",
       "bad " + kFffd + kFffd + kFffd + " " + kFffd + kFffd + kFffd + " " + kFffd,
       "bad " + kFffd + kFffd + kFffd + " " + kFffd + kFffd + kFffd + " " + kFffd},
      {"non\xEF\xBF\xBE\xEF\xBF\xBF", "non" + kFffd + kFffd, "non" + kFffd + kFffd},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.raw);
    std::string text, attribute;
    junit_report::AppendXmlText(text, test.raw, false);
    junit_report::AppendXmlText(attribute, test.raw, true);
    EXPECT_EQ(text, test.text);
    EXPECT_EQ(attribute, test.attribute);
  }
}

TEST(ResultFormatsTest, SampleLinesEscapeLabelValues) {
  const struct {
    metrics_report::Labels labels;
    std::string line;
  } cases[] = {
      {{}, "m 7\n"},
      {{{"node", "n1"}, {"severity", "critical"}}, "m{node=\"n1\",severity=\"critical\"} 7\n"},
      {{{"node", "a\\b \"q\"\nx\ty"}}, "m{node=\"a\\\\b \\\"q\\\"\\nx\ty\"} 7\n"},
      {{{"node", "bad\xFF\xC3"}}, "m{node=\"bad" + kFffd + kFffd + "\"} 7\n"},
  };
  for (const auto& test : cases) {
    std::string out;
    metrics_report::AppendSample(out, "m", test.labels, 7);
    EXPECT_EQ(out, test.line);
  }
}

// The writer behind the extensions' files: a document larger than its
// buffer arrives whole; a writer given up, or stopped by a write error (a
// file size limit, in a child process), leaves the earlier file as it was
// and no temporary file behind.
TEST(ResultFormatsTest, AtomicFileWriterReplacesWholeOrNotAtAll) {
  using extensions::AtomicFileWriter;
  TempDir dir;
  const std::string path = dir / "out/report.txt";
  const auto names = [&] {
    Strings found;
    for (const auto& entry : std::filesystem::directory_iterator(dir / "out")) found.push_back(entry.path().filename());
    return found;
  };

  std::string whole;
  {
    AtomicFileWriter file(path);
    for (int i = 0; i < 100000; ++i) {
      const std::string line = "line " + std::to_string(i) + "\n";
      if (i % 2 == 0) {
        file.Append(line);
      } else {
        file.Out().append(line);
      }
      whole += line;
    }
    const std::string large(AtomicFileWriter::kBufferSize + 7, 'x');
    file.Append(large);
    whole += large;
    ASSERT_EQ(file.Commit(), "");
  }
  struct stat status {};
  ASSERT_EQ(::stat(path.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0660u);
  EXPECT_TRUE(ReadFile(path) == whole);
  EXPECT_EQ(names(), Strings{"report.txt"});

  AtomicFileWriter(path).Append("given up");
  EXPECT_TRUE(ReadFile(path) == whole);
  EXPECT_EQ(names(), Strings{"report.txt"});

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{1 << 16, 1 << 16};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    AtomicFileWriter file(path);
    for (int i = 0; i < 3000; ++i) file.Append(std::string(1000, 'y'));
    const std::string problem = file.Commit();
    if (problem == "cannot write " + path + ": File too large") ::_exit(0);
    std::fprintf(stderr, "the write failed with \"%s\"\n", problem.c_str());
    ::_exit(1);
  }
  int result = 0;
  ASSERT_EQ(::waitpid(child, &result, 0), child);
  EXPECT_TRUE(WIFEXITED(result) && WEXITSTATUS(result) == 0);
  EXPECT_TRUE(ReadFile(path) == whole);
  EXPECT_EQ(names(), Strings{"report.txt"});
}

using testing::Record;

class ResultFilesTest : public ::testing::Test {
 protected:
  // Runs the driver; returns its result and keeps the files for the format checks.
  int Run(const std::string& base = "qorv_results") {
    const auto run = testing::RunDriver(config_);
    console_ = run.out;
    errors_ = run.err;
    junit_ = ReadFile(base + ".junit.xml");
    metrics_ = ReadFile(base + ".prom");
    testing::KeepSample("QORV_RESULT_SAMPLES", ".junit.xml", junit_);
    testing::KeepSample("QORV_RESULT_SAMPLES", ".prom", metrics_);
    return run.status;
  }

  std::shared_ptr<FwdNode> AddFwd(const std::string& name, Strings signs) {
    auto node = testing::Definition(*config_->fwd_attributes, name);
    node->fwd->signs = {signs.begin(), signs.end()};
    return node;
  }

  bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

  TempDir work_{true};
  std::shared_ptr<Config> config_ = testing::ExtensionRun({"qorv_junit", "qorv_metrics"}, 1770102309);
  std::string console_, errors_, junit_, metrics_;
};

// A run whose texts hold markup, quotes, control characters and invalid
// UTF-8, on a node list far longer than any line: "top" depends on "base",
// "idle" (with markup in its name) is skipped; node group "rack" runs "top".
TEST_F(ResultFilesTest, HostileRunGivesConsistentFiles) {
  const std::string hostile = "<x a=\"1\"> & 'q' \x01\x1b[0m \xFF\xFE end\r\n";
  Strings many;
  for (int i = 0; i < 3000; ++i) many.push_back("n" + std::to_string(i));
  auto& lists = config_->issue_lists;
  lists[Config::OBSERVATIONS] = {Record("obs-hot", 90, many), Record(hostile, 30, {"n1", hostile}),
                                 Record("obs-info", 5, {"n2"})};
  lists[Config::ISSUES] = lists[Config::OBSERVATIONS];
  lists[Config::ISSUES].push_back(Record("run-failed", 50, {"n3"}));
  config_->observation_ids = {
      {"obs-hot", {"s-hot"}}, {hostile, {"s-base"}}, {"obs-info", {"s-base"}}, {"run-failed", {"s-base"}}};
  config_->category_map = {{"run-failed", "ERROR"}, {"obs-hot", "HARDWARE"}, {hostile, "HARDWARE"}};
  auto top = AddFwd("top", {"s-hot"});
  auto base = AddFwd("base", {"s-base"});
  top->dependencies = {{base}};
  AddFwd("idle \"<&>\"", {})->fwd->skipped = true;
  auto rack = std::make_shared<ClusterDefinition>();
  rack->name = "rack";
  rack->node_names = {"n1", "n2", "n3", "n4"};
  rack->root_fwd_names = {"top"};
  config_->node_groups["rack"] = rack;
  for (const auto& name : many) config_->nodes.push_back({"", name});
  config_->nodes.push_back({"", hostile});
  config_->passed = false;

  ASSERT_EQ(Run(), 0) << errors_;
  EXPECT_EQ(errors_, "");

  // base: the nodes of the group that runs "top" and those its own issues
  // name; top: its own obs-hot's nodes, base's issues only on the group's
  // nodes (not on the hostile one); idle (no group names it): every
  // tested node.
  for (const char* suite :
       {"<testsuite name=\"base\" tests=\"5\" failures=\"2\" errors=\"1\" skipped=\"0\" time=\"0\" "
        "timestamp=\"2026-02-03T07:05:09\">",
        "<testsuite name=\"idle &quot;&lt;&amp;&gt;&quot;\" tests=\"3001\" failures=\"0\" errors=\"0\" "
        "skipped=\"3001\"",
        "<testsuite name=\"top\" tests=\"3000\" failures=\"2999\" errors=\"1\" skipped=\"0\"",
        "<testsuites name=\"Quorvane\" tests=\"6006\" failures=\"3001\" errors=\"2\" skipped=\"3001\""}) {
    EXPECT_TRUE(Contains(junit_, suite)) << suite;
  }
  const std::string escaped =
      "&lt;x a=&quot;1&quot;&gt; &amp; &apos;q&apos; " + kFffd + kFffd + "[0m " + kFffd + kFffd + " end&#13;";
  EXPECT_TRUE(Contains(junit_, "<failure message=\"" + escaped + "&#10;\" type=\"WARNING\">"))
      << junit_.substr(0, 3000);
  EXPECT_TRUE(Contains(junit_, "<testcase name=\"" + escaped + "&#10;\" classname=\"base\""));
  for (const char* sample : {"qorv_tested_nodes 3001\n", "qorv_nodes_with_issues 3001\n",
                             "qorv_framework_definition_skipped{definition=\"idle \\\"<&>\\\"\"} 1\n",
                             "qorv_node_issues{node=\"n2999\",severity=\"critical\"} 1\n"}) {
    EXPECT_TRUE(Contains(metrics_, sample)) << sample;
  }
  EXPECT_TRUE(Contains(metrics_, "qorv_node_issues{node=\"<x a=\\\"1\\\"> & 'q' \x01\x1b[0m " + kFffd + kFffd +
                                     " end\r\\n\",severity=\"warning\"} 1\n"));
}

// A node's failure states its most severe finding, whatever the order of
// the findings. A failed verdict that no issue shows still makes a failure:
// a run can fail with no definitions at all. With the FAIL level inside the
// warning group, the whole group counts toward FAIL, as the summary counts
// it. An issue without nodes is a case of its own.
TEST_F(ResultFilesTest, FailuresStateTheWorstFindingAndFailedVerdictsWithoutIssuesStillFail) {
  config_->fail_level = 50;
  config_->issue_lists[Config::OBSERVATIONS] = {Record("obs-60", 60, {"n1", "n2"}), Record("obs-90", 90, {"n2"}),
                                                Record("obs-70", 70, {"n2"})};
  config_->observation_ids = {{"obs-60", {"s"}}, {"obs-70", {"s"}}, {"obs-90", {"s"}}};
  AddFwd("quiet", {"s"});
  ASSERT_EQ(Run(), 0) << errors_;
  EXPECT_TRUE(Contains(junit_,
                       "<testcase name=\"n1\" classname=\"quiet\" time=\"0\">\n"
                       "      <failure message=\"obs-60\" type=\"WARNING\">"))
      << junit_;
  EXPECT_TRUE(Contains(junit_,
                       "<testcase name=\"n2\" classname=\"quiet\" time=\"0\">\n"
                       "      <failure message=\"obs-90\" type=\"CRITICAL\">"));
  EXPECT_FALSE(Contains(junit_, "(no Framework Definition)"));

  config_ = testing::ExtensionRun({"qorv_junit"}, 0);
  config_->passed = false;
  config_->issue_lists[Config::OBSERVATIONS] = {Record("nowhere", 10, {})};
  config_->observation_ids = {{"nowhere", {}}};
  config_->output_file = "out/run.log";
  ASSERT_EQ(Run("out/run"), 0) << errors_;
  EXPECT_TRUE(Contains(junit_, "<testsuite name=\"(no Framework Definition)\" tests=\"2\" failures=\"1\""));
  EXPECT_TRUE(Contains(junit_, "<testcase name=\"nowhere\" classname=\"(no Framework Definition)\""));
  EXPECT_TRUE(Contains(junit_, "<failure message=\"The run failed.\" type=\"VERDICT\">"));
  EXPECT_TRUE(Contains(console_, "JUnit XML results: out/run.junit.xml\n"));
}

// Names that differ only in ill-formed bytes become the same label value;
// Prometheus rejects a file with a series twice, so they make one series.
// A clean node of the default group is tested but has no issues.
TEST_F(ResultFilesTest, MetricsMergeNamesThatRepairToTheSameLabel) {
  config_->issue_lists[Config::OBSERVATIONS] = {Record("obs", 90, {"n\xFF", "n\xFE"})};
  config_->issue_lists[Config::ISSUES] = config_->issue_lists[Config::OBSERVATIONS];
  config_->observation_ids = {{"obs", {"s"}}};
  config_->nodes = {{"", "n\xFF"}, {"", "n\xFE"}, {"", "clean"}};
  config_->node_groups["default-subcluster"] = std::make_shared<ClusterDefinition>();
  config_->node_groups["default-subcluster"]->name = "default-subcluster";
  AddFwd("d\xFE", {"s"});
  AddFwd("d\xFF", {})->fwd->skipped = true;  // after the failing spelling, which still decides
  ASSERT_EQ(Run(), 0) << errors_;
  for (const std::string& sample : {"qorv_node_issues{node=\"n" + kFffd + "\",severity=\"critical\"} 2\n",
                                    "qorv_framework_definition_passed{definition=\"d" + kFffd + "\"} 0\n",
                                    "qorv_framework_definition_skipped{definition=\"d" + kFffd + "\"} 1\n",
                                    std::string("qorv_tested_nodes 3\n"), std::string("qorv_nodes_with_issues 2\n")}) {
    EXPECT_TRUE(Contains(metrics_, sample)) << sample << metrics_;
  }
  EXPECT_EQ(metrics_.find("qorv_node_issues{node=\"n" + kFffd + "\",severity=\"critical\"}"),
            metrics_.rfind("qorv_node_issues{node=\"n" + kFffd + "\",severity=\"critical\"}"));
}

TEST_F(ResultFilesTest, UnwritableDirectoryFailsTheExtensionAndWritesNothing) {
  work_.Write("blocked", "a file, not a directory");
  config_->output_file = "blocked/run.log";
  EXPECT_EQ(Run("blocked/run"), 1);
  EXPECT_TRUE(
      Contains(errors_, "Error writing the JUnit XML results: cannot create the directory of blocked/run.junit.xml.\n"))
      << errors_;
  EXPECT_TRUE(
      Contains(errors_, "Error writing the Prometheus metrics: cannot create the directory of blocked/run.prom.\n"));
  EXPECT_FALSE(Contains(console_, "results: ")) << console_;
}

}  // namespace
}  // namespace qorv::postprocessor
