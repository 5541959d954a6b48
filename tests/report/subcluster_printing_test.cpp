#include "postprocessor/report/subcluster_printing.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/report/report_fixture.h"

namespace qorv::postprocessor {
namespace {

using testing::Printed;

std::shared_ptr<ClusterDefinition> Group(std::string name, bool automatic, std::set<std::string> nodes,
                                         std::set<std::string> tests = {}, bool valid = true) {
  auto group = std::make_shared<ClusterDefinition>();
  group->name = std::move(name);
  group->automatic = automatic;
  group->node_names = std::move(nodes);
  group->root_fwd_names = std::move(tests);
  group->valid = valid;
  return group;
}

class SubclusterPrintingTest : public ::testing::Test {
 protected:
  SubclusterPrintingTest() {
    data_.node_groups = std::make_shared<std::map<std::string, std::shared_ptr<ClusterDefinition>>>();
  }
  void Add(std::shared_ptr<ClusterDefinition> group) { (*data_.node_groups)[group->name] = group; }
  std::string Print() {
    return Printed([&] { SubclusterPrinting().PrintNodeGroups(data_); });
  }
  PostprocessorExtensionData data_;
};

// The golden reports show well-formed groups of both kinds; here, groups
// without nodes, invalid ones, and exclusions of several nodes or none.
TEST_F(SubclusterPrintingTest, EmptyAndInvalidGroupsAndExclusions) {
  EXPECT_EQ(Print(), "");
  data_.node_groups_file = "/etc/qorv/groups.xml";
  auto compute = Group("compute", false, {"c1", "c2", "c3"}, {"cpu", "memory", "network"});
  compute->test_exclusions = {{"cpu", {"c01", "c02"}}, {"memory", {}}, {"network", {"ib0"}}};
  Add(compute);
  Add(Group("broken", false, {"x1"}, {}, false));
  Add(Group("empty", false, {}, {"cpu"}));
  auto rest = Group("rest", true, {"g1"});
  rest->excluded_groups = {"compute", "empty"};
  Add(rest);
  Add(Group("stale", true, {"s1"}, {}, false));

  EXPECT_EQ(Print(),
            "Quorvane completed analysis with the following groups:\n"
            "User-Configured Groups (Defined in /etc/qorv/groups.xml)\n"
            "1. Group \"compute\"\n"
            "   Nodes: c[1-3]\n"
            "   Tests: cpu, (excluding c01, c02) memory, network (excluding ib0)\n"
            "2. Group \"empty\"\n"
            "   Nodes: No nodes found on the system for this node group\n"
            "   Tests: cpu\n"
            "\n"
            "Node Group Analysis could not be performed for 1 User-Configured Group\n"
            "\n"
            "Automatically Configured Groups, with remaining nodes not listed in\nUser-Configured Groups\n"
            "1. Group \"rest\"\n"
            "   Description: All nodes excluding group \"compute\", group \"empty\"\n"
            "   Nodes: g1\n"
            "\n" +
                std::string(80, '-') + "\n");

  data_.default_subcluster_only = true;
  EXPECT_EQ(Print(), "");
}

TEST_F(SubclusterPrintingTest, NumbersAlignFromTenGroupsOn) {
  for (int i = 1; i <= 12; ++i) Add(Group("g" + std::string(i < 10 ? "0" : "") + std::to_string(i), true, {"n"}));
  Add(Group("bad1", false, {}, {}, false));
  Add(Group("bad2", false, {}, {}, false));
  const std::string printed = Print();
  // Invalid groups are counted, not listed.
  EXPECT_NE(printed.find("User-Configured Groups\n\n"
                         "Node Group Analysis could not be performed for 2 User-Configured Groups\n\n"),
            std::string::npos);
  EXPECT_NE(printed.find("\n1.  Group \"g01\"\n    Nodes: n\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("\n9.  Group \"g09\"\n"), std::string::npos);
  EXPECT_NE(printed.find("\n12. Group \"g12\"\n    Nodes: n\n"), std::string::npos);
}

}  // namespace
}  // namespace qorv::postprocessor
