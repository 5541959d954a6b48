#include "postprocessor/report/string_interface.h"

#include <gtest/gtest.h>

#include "postprocessor/host/tokenized_host.h"

namespace qorv::postprocessor {
namespace {

std::string Merged(const std::vector<std::string>& names) { return TokenizedHost::get_merged_hosts(names); }

TEST(StringInterfaceTest, NodeGroups) {
  StringInterface strings;
  std::vector<std::vector<std::string>> none;
  EXPECT_EQ(strings.get_node_string(none), "");
  std::vector<std::vector<std::string>> empties{{}, {}};
  EXPECT_EQ(strings.get_node_string(empties), "");

  std::vector<std::vector<std::string>> singles{{"n2"}, {}, {"n1"}};
  EXPECT_EQ(strings.get_node_string(singles), Merged({"n1", "n2"}));

  std::vector<std::vector<std::string>> groups{{"n2", "n1"}, {"c"}};
  EXPECT_EQ(strings.get_node_string(groups), "(" + Merged({"n1", "n2"}) + "), (c)");
  // An empty last group leaves the separator after the group before it.
  std::vector<std::vector<std::string>> trailing{{"a", "b"}, {}};
  EXPECT_EQ(strings.get_node_string(trailing), "(" + Merged({"a", "b"}) + "), ");
}

TEST(StringInterfaceTest, MergedNames) {
  StringInterface strings;
  EXPECT_EQ(strings.get_node_string_merge({}), "");
  EXPECT_EQ(strings.get_node_string_merge({"x[1]"}), "x[1]");
  EXPECT_EQ(strings.get_node_string_merge({"b", "a"}), Merged({"a", "b"}));
  EXPECT_EQ(strings.GetNodeStringSet({}), "");
  EXPECT_EQ(strings.GetNodeStringSet({"only"}), "only");
  EXPECT_EQ(strings.GetNodeStringSet({"node2", "node1"}), Merged({"node1", "node2"}));
}

TEST(StringInterfaceTest, SeverityNames) {
  StringInterface strings;
  const std::vector<std::pair<int, std::string>> cases = {
      {0, "INFORMATIONAL"}, {24, "INFORMATIONAL"}, {25, "WARNING"}, {74, "WARNING"},
      {75, "CRITICAL"},     {100, "CRITICAL"},     {101, ""},       {-1, ""}};
  for (const auto& [severity, name] : cases) EXPECT_EQ(strings.get_severity_string(severity), name) << severity;
}

TEST(StringInterfaceTest, ShortNamesAndLineEnds) {
  StringInterface strings;
  EXPECT_EQ(strings.get_short_name("/a/b/cpu.xml"), "cpu");
  EXPECT_EQ(strings.get_short_name("ab.xml.gz"), "ab.gz");
  EXPECT_EQ(strings.get_short_name(".xml"), "");
  EXPECT_EQ(strings.get_short_name("/fwd/memory"), "memory");
  EXPECT_EQ(strings.get_short_name("a.xml.xml"), "a.xml");
  EXPECT_EQ(strings.remove_endl("one\ntwo\r\nthree\n"), "onetwo\rthree");
}

}  // namespace
}  // namespace qorv::postprocessor
