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

TEST(CollapsedIssueTest, EmptyIssue) {
  CollapsedAnalysisOutput issue(OBSERVATION);
  EXPECT_EQ(issue.type, OBSERVATION);
  EXPECT_EQ(issue.get_id(), "");
  EXPECT_EQ(issue.get_severity(), 0);
  EXPECT_EQ(issue.get_message_string("  "), "");
  EXPECT_EQ(issue.get_long_node_string("  "), "");
  EXPECT_EQ(issue.get_fwd_string("  ", "Test"), "");
  EXPECT_EQ(issue.table.GetHeaders(), std::vector<std::string>{"#Nodes"});
  EXPECT_FALSE(issue.is_table);
}

TEST(CollapsedIssueTest, NodesAndRecords) {
  CollapsedAnalysisOutput issue;
  issue.append(Record({"n1"}));
  EXPECT_EQ(issue.get_long_node_string("- "), "- 1 node: n1\n");
  issue.append(Record({"n2", "n1"}));
  issue.append(Record({"n2", "n1"}));
  EXPECT_EQ(issue.nodes.size(), 2u);
  EXPECT_EQ(issue.get_nodes(), (std::vector<std::string>{"n1", "n2", "n1", "n2", "n1"}));
  EXPECT_EQ(issue.get_long_node_string("- "),
            "- 2 nodes: " + TokenizedHost::get_merged_hosts({"n1", "n2"}) + "\n");
}

TEST(CollapsedIssueTest, MessageAndRemedyComeFromTheFirstRecord) {
  CollapsedAnalysisOutput issue;
  issue.append(Record({"n1"}, "Memory\nlow", ""));
  issue.append(Record({"n2"}, "other", "Replace the DIMM"));
  EXPECT_EQ(issue.get_message_string("    "), "    Message: Memorylow\n");
  EXPECT_EQ(issue.get_remedy_string("    "), "");
}

TEST(CollapsedIssueTest, FrameworkDefinitionLine) {
  CollapsedAnalysisOutput issue;
  issue.fwds = {"/etc/fwd/memory.xml"};
  EXPECT_EQ(issue.get_fwd_string("  ", "Test"), "  Test: memory\n");
  issue.fwds.insert("cpu.xml");
  EXPECT_EQ(issue.get_fwd_string("  ", "Test"), "  Tests: memory, cpu\n");
}

}  // namespace
}  // namespace qorv::postprocessor
