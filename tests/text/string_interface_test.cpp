#include "postprocessor/text/string_interface.h"

#include <gtest/gtest.h>

#include "postprocessor/host/tokenized_host.h"

namespace qorv::postprocessor {
namespace {

std::string Merged(const std::vector<std::string>& names) { return TokenizedHost::get_merged_hosts(names); }

TEST(StringInterfaceTest, NodeListsAreSortedMergedAndGrouped) {
  StringInterface strings;
  const struct {
    std::vector<std::vector<std::string>> groups;
    std::string expected;
  } cases[] = {
      {{}, ""},
      {{{}, {}}, ""},
      {{{"n2"}, {}, {"n1"}}, Merged({"n1", "n2"})},
      {{{"n2", "n1"}, {"c"}}, "(" + Merged({"n1", "n2"}) + "), (c)"},
      // An empty last group leaves the separator after the group before it.
      {{{"a", "b"}, {}}, "(" + Merged({"a", "b"}) + "), "},
  };
  for (auto test : cases) EXPECT_EQ(strings.get_node_string(test.groups), test.expected) << test.expected;

  EXPECT_EQ(strings.get_node_string_merge({}), "");
  EXPECT_EQ(strings.get_node_string_merge({"x[1]"}), "x[1]");
  EXPECT_EQ(strings.get_node_string_merge({"b", "a"}), Merged({"a", "b"}));
  EXPECT_EQ(strings.GetNodeStringSet({}), "");
  EXPECT_EQ(strings.GetNodeStringSet({"only"}), "only");
  EXPECT_EQ(strings.GetNodeStringSet({"node2", "node1"}), Merged({"node1", "node2"}));
}

TEST(StringInterfaceTest, SeverityNamesShortNamesAndLineEnds) {
  StringInterface strings;
  const std::pair<int, std::string> severities[] = {
      {0, "INFORMATIONAL"}, {24, "INFORMATIONAL"}, {25, "WARNING"}, {74, "WARNING"},
      {75, "CRITICAL"},     {100, "CRITICAL"},     {101, ""},       {-1, ""}};
  for (const auto& [severity, name] : severities) EXPECT_EQ(strings.get_severity_string(severity), name) << severity;

  const std::pair<const char*, const char*> names[] = {
      {"/a/b/cpu.xml", "cpu"}, {"ab.xml.gz", "ab.gz"}, {".xml", ""}, {"/fwd/memory", "memory"}, {"a.xml.xml", "a.xml"}};
  for (const auto& [path, name] : names) EXPECT_EQ(strings.get_short_name(path), name) << path;
  EXPECT_EQ(strings.remove_endl("one\ntwo\r\nthree\n"), "onetwo\rthree");
}

}  // namespace
}  // namespace qorv::postprocessor
