// Composed reports of a hand-built run compared byte for byte with the files
// in tests/report/golden, so that every change to report text shows in
// review. Regenerate them after an intended change with
//   QORV_UPDATE_GOLDEN=1 build/tests/report_test --gtest_filter='GoldenReport*'
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "postprocessor/collapse/category_map.h"
#include "postprocessor/host/str.h"
#include "postprocessor/intake/issue_processor.h"
#include "postprocessor/intake/message_table.h"
#include "postprocessor/report/category_printing.h"
#include "postprocessor/report/subcluster_printing.h"
#include "tests/report/hand_built_run.h"

namespace qorv::postprocessor {
namespace {

using testing::Printed;

class GoldenReportTest : public ::testing::Test {
 protected:
  void TearDown() override { MessageTable::table_map.clear(); }

  // Fills the run data as the driver does.
  PostprocessorExtensionData Run(bool node_groups) {
    auto config = testing::HandBuiltRun(dir_, node_groups);
    PostprocessorExtensionData data;
    IssueProcessor::ProcessIssues(config, data);
    EXPECT_EQ(UtilityFunctions().fillOutputData(*config, data), 0);
    return data;
  }

  // Every section of the toolkit, in the order a full report uses.
  static std::string Report(const PostprocessorExtensionData& data, bool long_format) {
    CategoryMap map({"FUNCTIONALITY", "PERFORMANCE", "ERROR", "INFORMATIONAL"}, long_format);
    map.PopulateSubclusters(data);
    map.PopulateIssues(data);
    CategoryPrinting printer(&map, data, long_format);
    return Printed([&] {
      UtilityFunctions utility;
      utility.Summarize(data);
      utility.print_validation(data);
      printer.PrintSummary();
      printer.PrintValidation();
      printer.PrintNodes();
      SubclusterPrinting().PrintNodeGroups(data);
      printer.PrintCategories();
      printer.PrintCategory("INFORMATIONAL");
      printer.PrintCategory("ERROR");
      utility.PrintFWDTree(data);
      utility.PrintEnd(data);
    });
  }

  // The suppression note names the configuration beside the running
  // program, which differs between build trees.
  static void Compare(const std::string& name, std::string report) {
    // The note and its path, wrapped however the path's length makes it,
    // up to the rule that follows it.
    const std::string note = "Issues can be suppressed in";
    const std::size_t at = report.find(note);
    const std::size_t end = report.find("\n-", at);
    if (at != std::string::npos && end != std::string::npos) {
      report.replace(at, end - at, note + " <install>/etc/qorv.xml");
    }
    const std::string path = std::string(QORV_SOURCE_DIR) + "/tests/report/golden/" + name;
    if (std::getenv("QORV_UPDATE_GOLDEN") != nullptr) {
      std::ofstream(path, std::ios::binary) << report;
      return;
    }
    EXPECT_EQ(report, testing::ReadFile(path)) << "differs from " << path;
  }

  testing::TempDir dir_;
};

TEST_F(GoldenReportTest, DefaultGroupShortFormAt80AndNodeGroupsLongFormAt200) {
  Compare("default_group_80.txt", Report(Run(false), false));
  auto data = Run(true);
  data.width = 200;
  Compare("node_groups_long_200.txt", Report(data, true));
}

TEST_F(GoldenReportTest, NodeGroupsAt36) {
  auto data = Run(true);
  data.width = 36;
  const std::string report = Report(data, false);
  testing::ExpectFits(report, 36);
  Compare("node_groups_36.txt", report);

  // Every block but the drawn trees, which cannot break, fits any width.
  for (const int width : {1, 10000}) {
    data.width = width;
    const std::string any_width = Report(data, false);
    const std::size_t tree = any_width.find("\nFramework");
    const std::size_t end = any_width.rfind("\nQuorvane");
    ASSERT_NE(tree, std::string::npos);
    ASSERT_NE(end, std::string::npos);
    testing::ExpectFits(any_width.substr(0, tree) + any_width.substr(end), width);
  }
}

}  // namespace
}  // namespace qorv::postprocessor
