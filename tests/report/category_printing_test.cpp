#include "postprocessor/report/category_printing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/report/report_fixture.h"

namespace qorv::postprocessor {
namespace {

using testing::Collapsed;
using testing::Definition;
using testing::Printed;
using testing::Record;
using Issues = std::vector<std::shared_ptr<CollapsedAnalysisOutput>>;

// A category map filled by hand: subclusters compute (c1-c3) and
// default-subcluster (d1), reported categories FUNCTIONALITY, PERFORMANCE,
// ERROR and INFORMATIONAL. Printed at width 200 unless a test says so.
class CategoryPrintingTest : public ::testing::Test {
 protected:
  CategoryPrintingTest() : map_({"FUNCTIONALITY", "PERFORMANCE", "ERROR", "INFORMATIONAL"}) {
    data_.width = 200;
    data_.default_subcluster_only = true;
    data_.include_nodes = std::make_shared<std::vector<std::string>>();
    map_.subcluster_map = {{"compute", {"c1", "c2", "c3"}}, {"default-subcluster", {"d1"}}};
  }
  void File(const std::string& category, const std::string& subcluster, Issues issues) {
    map_.issue_map[{category, subcluster}] = std::make_shared<Issues>(std::move(issues));
  }
  std::string Print(const std::function<void(CategoryPrinting&)>& print, bool long_format = false) {
    CategoryPrinting printer(&map_, data_, long_format);
    return Printed([&] { print(printer); });
  }

  PostprocessorExtensionData data_;
  CategoryMap map_;
};

// The golden reports hold a full summary; here, the node filter's note, a
// run without a command line, and several tests that could not run.
TEST_F(CategoryPrintingTest, SummaryWithANodeFilterAndNoCommandLine) {
  data_.include_nodes->assign({"node1", "node2"});
  auto& attributes = *data_.fwd_attributes;
  attributes.roots = {Definition(attributes, "cpu")};
  File("FUNCTIONALITY", "compute", {Collapsed({Record("a", 80, {"c1"})}), Collapsed({Record("b", 80, {"c2"})})});
  File("ERROR", "compute", {Collapsed({Record("e", 10, {"c1"})})});
  File("ERROR", "default-subcluster", {Collapsed({Record("f", 10, {"d1"})})});
  EXPECT_EQ(Print([](CategoryPrinting& p) { p.PrintSummary(); }),
            "SUMMARY\n"
            "NOTE:  All output is being filtered to show only the results of the following nodes:  node1 node2\n"
            "  Tests Run: cpu\n"
            "  **WARNING**: 2 tests failed to run. Information may be incomplete. "
            "See qorv_execution_warnings.log for more information.\n"
            "  Overall Result: 2 issues found - FUNCTIONALITY (2)\n" +
                std::string(200, '-') + "\n");
}

// The validation verdicts of the summary and of the run summary's block;
// neither prints a heading without a validation.
TEST_F(CategoryPrintingTest, Validation) {
  const auto block = [this] { return Printed([this] { UtilityFunctions().print_validation(data_); }); };
  auto& attributes = *data_.fwd_attributes;
  attributes.roots = {Definition(attributes, "cpu")};
  EXPECT_EQ(Print([](CategoryPrinting& p) { p.PrintValidation(); }) + block(), "");
  attributes.roots = {Definition(attributes, "slurm", "Scheduler ready", false), attributes.roots[0], nullptr,
                      Definition(attributes, "mpi", "MPI stack", true)};
  EXPECT_EQ(Print([](CategoryPrinting& p) { p.PrintValidation(); }),
            "VALIDATION PASSED\n  MPI stack\nVALIDATION FAILED\n  Scheduler ready\n" + std::string(200, '-') + "\n");
  EXPECT_EQ(block(),
            "Solution Validation Results\nMPI stack: PASS\n\nScheduler ready: FAIL\n\n" + std::string(200, '-') + "\n");
  EXPECT_EQ(UtilityFunctions().get_validation(attributes.roots),
            (std::vector<std::pair<std::string, std::string>>{{"Scheduler ready", "FAIL"}, {"MPI stack", "PASS"}}));
}

TEST_F(CategoryPrintingTest, NodeCountsSplitListsAndMatchLongNames) {
  data_.nodes = std::make_shared<std::vector<Node>>();
  std::vector<std::string> widespread;
  for (int i = 1; i <= 120; ++i) {
    const std::string name = (i < 10 ? "c00" : i < 100 ? "c0" : "c") + std::to_string(i);
    data_.nodes->push_back({"", name});
    if (i >= 8 && i <= 113) widespread.push_back(name);
  }
  // c001 is reported under a long name; lists of several nodes are split
  // whatever their order; x9 has issues but was not tested.
  File("FUNCTIONALITY", "compute",
       {Collapsed({Record("long", 80, {"c001.ib"})}), Collapsed({Record("pair", 80, {"c002, c003"})}),
        Collapsed({Record("tight", 80, {"c004,c005"})}), Collapsed({Record("mixed", 80, {"x9, c006, c007"})}),
        Collapsed({Record("wide", 80, widespread)})});
  std::set<std::string> with_issues(widespread.begin(), widespread.end());
  with_issues.insert({"c001.ib", "c002", "c003", "c004", "c005", "c006", "c007", "x9"});
  const std::string rule(200, '-');
  EXPECT_EQ(Print([](CategoryPrinting& p) { p.PrintNodes(); }),
            "120 nodes tested: c[001-120]\n  7 nodes with no issues: c[114-120]\n114 nodes with issues: " +
                StringInterface().GetNodeStringSet(with_issues) + "\n" + rule + "\n");

  data_.include_nodes->assign({"c001"});
  EXPECT_EQ(Print([](CategoryPrinting& p) { p.PrintNodes(); }), "120 nodes tested: c[001-120]\n" + rule + "\n");
}

// Full category sections are in the golden reports; here, the cases they
// do not reach.
TEST_F(CategoryPrintingTest, CategoriesWithoutIssuesAndASingleSubcluster) {
  EXPECT_EQ(Print([](CategoryPrinting& p) { p.PrintCategory("INFORMATIONAL"); }), "");
  EXPECT_EQ(Print([](CategoryPrinting& p) { p.PrintCategories(); }),
            "FUNCTIONALITY\nNo issues detected.\n\nPERFORMANCE\nNo issues detected.\n\n");

  // Two subclusters: each under its header, the default one last.
  File("INFORMATIONAL", "default-subcluster", {Collapsed({Record("i", 0, {"d1"}, "BIOS\n2.1")})});
  EXPECT_EQ(Print([](CategoryPrinting& p) { p.PrintCategory("INFORMATIONAL"); }),
            std::string(200, '-') +
                "\nINFORMATIONAL\nThe following additional information was detected:\n\n"
                "  Subcluster \"compute\": c[1-3]\n    No issues detected.\n\n"
                "  Remaining Nodes: d1\n    1. BIOS2.1\n         1 node: d1\n\n");
  // One subcluster: no header, issues indented by two blanks, line ends gone.
  map_.subcluster_map.erase("compute");
  EXPECT_EQ(Print([](CategoryPrinting& p) { p.PrintCategory("INFORMATIONAL"); }),
            std::string(200, '-') +
                "\nINFORMATIONAL\nThe following additional information was detected:\n\n"
                "  1. BIOS2.1\n       1 node: d1\n\n");
}

TEST_F(CategoryPrintingTest, NumbersAlignAndGroupsOfAllNodesComeLast) {
  data_.default_subcluster_only = false;
  map_.subcluster_map = {{"AllNodes", {"c1", "g1"}}, {"gpu", {"g1"}}, {"compute", {"c1"}}};
  Issues ten;
  for (int i = 1; i <= 10; ++i) ten.push_back(Collapsed({Record("id" + std::to_string(i), 80, {"g1"})}));
  File("FUNCTIONALITY", "gpu", ten);

  const std::string printed = Print([](CategoryPrinting& p) { p.PrintCategory("FUNCTIONALITY"); }, true);
  EXPECT_NE(printed.find("  Group \"compute\":\n    No issues detected.\n\n  Group \"gpu\":\n"
                         "    1.  id1\n          Message: id1\n          1 node: g1\n"),
            std::string::npos)
      << printed;
  EXPECT_NE(printed.find("    10. id10\n          Message: id10\n"), std::string::npos) << printed;
  EXPECT_EQ(printed.substr(printed.rfind("  Group")), "  Group \"AllNodes\":\n    No issues detected.\n\n");
}

TEST_F(CategoryPrintingTest, IssueWithoutRecords) {
  EXPECT_EQ(Print([](CategoryPrinting& p) { p.PrintIssue(Collapsed({}), "  1. "); }), "  1. \n       0 node: \n");
  EXPECT_EQ(Print([](CategoryPrinting& p) { p.PrintIssueLong(nullptr, "  1. "); }), "  1. \n");
}

}  // namespace
}  // namespace qorv::postprocessor
