#include "postprocessor/collapse/collapsed_analysis_output.h"

#include <gtest/gtest.h>

#include "postprocessor/host/tokenized_host.h"

namespace qorv::postprocessor {
namespace {

std::shared_ptr<analysis::AnalysisOutput> Record(std::vector<std::string> nodes, std::string message = "m",
                                                 std::string remedy = "") {
  auto record = std::make_shared<analysis::AnalysisOutput>();
  record->id = "qorv-id";
  record->message = std::move(message);
  record->remedy = std::move(remedy);
  record->nodes = std::move(nodes);
  return record;
}

// The lines of an issue come from its first record, its node set and its
// definitions; an empty issue has none.
TEST(CollapsedIssueTest, LinesComeFromTheFirstRecordTheNodeSetAndTheDefinitions) {
  CollapsedAnalysisOutput issue(OBSERVATION);
  EXPECT_EQ(issue.get_id() + issue.get_message_string("  ") + issue.get_long_node_string("  ") +
                issue.get_fwd_string("  ", "Test"),
            "");
  EXPECT_EQ(issue.get_severity(), 0);

  issue.append(Record({"n1"}, "Memory\nlow", ""));
  EXPECT_EQ(issue.get_long_node_string("- "), "- 1 node: n1\n");
  issue.append(Record({"n2", "n1"}, "other", "Replace the DIMM"));
  issue.append(Record({"n2", "n1"}));
  issue.append(nullptr);  // no record: nothing to add
  EXPECT_EQ(issue.issues.size(), 3u);
  EXPECT_EQ(issue.get_nodes(), (std::vector<std::string>{"n1", "n2", "n1", "n2", "n1"}));
  EXPECT_EQ(issue.get_long_node_string("- "), "- 2 nodes: " + TokenizedHost::get_merged_hosts({"n1", "n2"}) + "\n");
  EXPECT_EQ(issue.get_message_string("    "), "    Message: Memorylow\n");
  EXPECT_EQ(issue.get_remedy_string("    "), "");

  issue.fwds = {"/etc/fwd/memory.xml"};
  EXPECT_EQ(issue.get_fwd_string("  ", "Test"), "  Test: memory\n");
  issue.fwds.insert("cpu.xml");
  EXPECT_EQ(issue.get_fwd_string("  ", "Test"), "  Tests: memory, cpu\n");
}

}  // namespace
}  // namespace qorv::postprocessor
