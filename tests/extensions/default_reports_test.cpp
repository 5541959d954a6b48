// The default reports run through the real driver on a hand-built run: the
// console summary, the results log and the execution warnings, each where
// the run's output file puts it.
#include <gtest/gtest.h>

#include <string>

#include "postprocessor/intake/message_table.h"
#include "postprocessor/postprocessor.h"
#include "tests/report/hand_built_run.h"
#include "tests/support/capture.h"

namespace qorv::postprocessor {
namespace {

using testing::ReadFile;

TEST(DefaultReportsTest, SummaryLogAndWarningsOfOneRun) {
  testing::TempDir dir;
  auto config = testing::HandBuiltRun(dir, true);
  config->output_file = dir / "out/run.log";
  config->extension_specs = {{{"category_summary", "category_log", "qorv_execution_warnings"}, QORV_EXTENSION_DIR}};
  config->report_messages["Firmware"] = {{"bios", {std::string("2.1.7")}, {"c01", "c02"}, ""}};

  testing::CaptureOutput output;
  EXPECT_EQ(run_postprocessor(config), 0);
  const std::string console = output.out();
  EXPECT_EQ(output.err(), "");
  MessageTable::table_map.clear();

  for (const char* line : {"Overall Result: FAIL\n", "SUMMARY\n", "  Overall Result: 6 issues found - ",
                           "VALIDATION FAILED\n  HPC Ready\n", "07:05:09 Febuary 3 2026 UTC\n"}) {
    EXPECT_NE(console.find(line), std::string::npos) << line;
  }
  EXPECT_EQ(console.find("Details: "), std::string::npos) << "issues stay in the log";
  EXPECT_EQ(console.substr(console.rfind("See the")),
            "See the following files for more information: " + (dir / "out/run.log") + ", " +
                (dir / "out/qorv_execution_warnings.log") + "\n");

  const std::string log = ReadFile(dir / "out/run.log");
  for (const char* line : {"User-Configured Groups (Defined in /etc/qorv/groups.xml)\n", "  Group \"gpu\":\n",
                           "         Details: \n           #Nodes Path     Use Nodes  \n",
                           "Framework Definition Dependencies\n", "RUNTIME ERRORS\n", "Quorvane 0.1.0\n"}) {
    EXPECT_NE(log.find(line), std::string::npos) << line;
  }

  const std::string warnings = ReadFile(dir / "out/qorv_execution_warnings.log");
  for (const char* line : {"EXECUTION WARNINGS\n", "RUNTIME ERRORS\nQuorvane encountered the following errors",
                           "    1. gpu-run\n         Message: The test gpu-burn could not run: no device found.\n",
                           "RUN PROBLEMS\nThe run reported the following problems of its own:\n\n  1. gpu-run\n",
                           "REPORT MESSAGES\n  Firmware:\n    BIOS version 2.1.7 differs from the rest of the "
                           "cluster.\n      2 nodes: c[01-02]\n"}) {
    EXPECT_NE(warnings.find(line), std::string::npos) << line << "\n" << warnings;
  }
}

}  // namespace
}  // namespace qorv::postprocessor
