#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "postprocessor/host/fs.h"
#include "postprocessor/host/str.h"
#include "postprocessor/utility_functions.h"
#include "postprocessor/version.h"
#include "tests/report/report_fixture.h"

namespace qorv::postprocessor {
namespace {

using testing::Collapsed;
using testing::Definition;
using testing::Printed;
using testing::Record;

const std::string kRule(80, '-');

// Run data whose counts Summarize reads: type_counts as fillOutputData
// leaves them and collapsed_by_type with `count` placeholder issues per key.
PostprocessorExtensionData CountedRun(std::map<unsigned long, int> type_counts, std::map<unsigned long, int> by_key) {
  PostprocessorExtensionData data;
  for (const auto& [key, count] : type_counts) data.type_counts[IssueKey(key)] = count;
  data.collapsed_by_type = std::make_shared<CollapsedByType>();
  for (const auto& [key, count] : by_key) {
    for (int i = 0; i < count; ++i) (*data.collapsed_by_type)[IssueKey(key)].push_back(Collapsed({}));
  }
  data.nodes = std::make_shared<std::vector<Node>>(std::vector<Node>{{"", "n3"}, {"", "n1"}, {"", "n2"}});
  data.include_nodes = std::make_shared<std::vector<std::string>>();
  data.collapsed_names = std::make_shared<std::set<std::string>>(std::set<std::string>{"n1", "n2"});
  return data;
}

// The FAIL breakdown lists the severity groups whose upper bound reaches
// the FAIL level, the other breakdown the rest, each most severe first. A
// level inside the warning group counts the whole group toward FAIL. A node
// filter hides the nodes with issues and the FAIL breakdown. The summary of
// a failed run at the default level is in the golden reports.
TEST(RunSummaryTest, SummarizeSplitsTheGroupsAtTheFailLevel) {
  const std::string critical = "3 CRITICAL     (1 diagnosis,     2 observations)\n";
  const std::string warning = "5 WARNING     (5 diagnoses,     0 observations)\n";
  const std::string informational = "2 INFORMATIONAL     (1 diagnosis,     1 observation)\n";
  // Wrapped as the printer wraps it: where the path breaks depends on its length.
  const std::string note =
      str::word_wrap("Total number of issues not shown (suppressed): 2\nIssues can be suppressed in " +
                         str::wordexp(fs::abspath(str::dirname(fs::selfpath())) + "/../..//etc/qorv.xml"),
                     80, "");
  const struct {
    int fail_level;
    bool filtered;  // by a node filter, with two records suppressed
    std::string fail, other;
  } cases[] = {
      {0, false, "10 (7 diagnoses, 3 observations)\nFAIL Level: INFORMATIONAL\n" + critical + warning + informational,
       "0\n"},
      {24, false, "10 (7 diagnoses, 3 observations)\nFAIL Level: INFORMATIONAL\n" + critical + warning + informational,
       "0\n"},
      {50, true, "8 (6 diagnoses, 2 observations)\nFAIL Level: WARNING",
       "2 (1 diagnosis, 1 observation)\n" + informational},
      {74, false, "8 (6 diagnoses, 2 observations)\nFAIL Level: WARNING\n" + critical + warning,
       "2 (1 diagnosis, 1 observation)\n" + informational},
      {75, false, "3 (1 diagnosis, 2 observations)\nFAIL Level: CRITICAL\n" + critical,
       "7 (6 diagnoses, 1 observation)\n" + warning + informational},
  };
  for (const auto& c : cases) {
    auto data = CountedRun({{0, 0}, {3, 0}, {16, 0}, {19, 0}},
                           {{8 | 16 | 0, 1}, {8 | 16 | 1, 1}, {8 | 16 | 2, 1}, {4 | 0, 5}, {0 | 0, 1}, {0 | 2, 1}});
    data.passed = false;
    data.fail_level_set = true;
    data.fail_level = c.fail_level;
    if (c.filtered) {
      data.include_nodes->push_back("n1");
      data.suppressed_count = 2;
    }
    EXPECT_EQ(Printed([&] { UtilityFunctions().Summarize(data); }),
              "Overall Result: FAIL\n\nNodes tested: n[1-3]\n" +
                  std::string(c.filtered ? "" : "Nodes with issues found: \n") +
                  "\nTotal number of issues contributing to FAIL: " + c.fail + "\n\nTotal number of other issues: " +
                  c.other + (c.filtered ? "\n\n" + note + "\n" : "\n") + kRule + "\n")
        << "FAIL level " << c.fail_level;
  }
}

TEST(RunSummaryTest, SummarizeWithoutIssues) {
  auto data = CountedRun({{0, 0}, {3, 0}, {16, 0}, {19, 0}}, {});
  auto skipped = Definition(*data.fwd_attributes, "gpu");
  skipped->fwd->skipped = true;
  data.suppressed_count = 1;
  const std::string printed = Printed([&] { UtilityFunctions().Summarize(data); });
  EXPECT_EQ(printed.substr(0, printed.find("Issues can be")),
            "Overall Result: PASS\n\nNodes tested: n[1-3]\n\n"
            "Total number of framework definition(s) skipped : 1\n\n"
            "Total number of issues contributing to FAIL: 0\n"
            "Total number of other issues: 0\n\n"
            "Total number of issues not shown (suppressed): 1\n");
}

// The closing block with a node file and databases is in the golden reports.
TEST(RunSummaryTest, ClosingBlockWithoutNodeFileOrDatabases) {
  PostprocessorExtensionData data;
  data.timestamp = 1795463100;  // 2026-11-23 19:45:00 UTC
  EXPECT_EQ(
      Printed([&] { UtilityFunctions().PrintEnd(data); }),
      kRule + "\n" + std::string("Quorvane ") + kProductVersion + "\n19:45:00 November 23 2026 UTC\nDatabases used:\n");
}

// The drawing of well-formed trees is in the golden reports; here, the
// empty case and a cycle, which is drawn once round and marked.
TEST(RunSummaryTest, DependencyTrees) {
  PostprocessorExtensionData data;
  EXPECT_EQ(Printed([&] { UtilityFunctions().PrintFWDTree(data); }), kRule + "\n");

  auto& attributes = *data.fwd_attributes;
  auto cluster = Definition(attributes, "cluster");
  auto node = Definition(attributes, "node");
  auto network = Definition(attributes, "network");
  auto memory = Definition(attributes, "memory");
  cluster->dependencies = {{node}, {network}};
  node->dependencies = {{memory}};
  memory->dependencies = {{cluster}};
  attributes.roots = {cluster};
  EXPECT_EQ(Printed([&] { UtilityFunctions().PrintFWDTree(data); }),
            kRule +
                "\nFramework Definition Dependencies\n\n"
                "cluster\n|- node\n|  `- memory\n|     `- cluster (circular dependency)\n`- network\n");
}

}  // namespace
}  // namespace qorv::postprocessor
