#include "postprocessor/collapse/category_map.h"

#include <gtest/gtest.h>

#include "postprocessor/intake/message_table.h"
#include "tests/collapse/records.h"
#include "tests/support/capture.h"

namespace qorv::postprocessor {
namespace {

using Record = std::shared_ptr<analysis::AnalysisOutput>;
using Nodes = std::vector<std::string>;

Record Rec(std::string id, std::string category, std::string subcluster, Nodes nodes, bool suppressed = false) {
  auto record = qorv::testing::MakeRecord(std::move(id), 0, std::move(nodes), "", suppressed);
  record->category = std::move(category);
  record->subcategory = std::move(subcluster);
  return record;
}

// Reported categories A, B, ERROR and INFORMATIONAL; subclusters rack1 and
// rack2 from the node groups.
class CategoryMapTest : public ::testing::Test {
 protected:
  CategoryMapTest() : map_({"A", "B", "ERROR", "INFORMATIONAL"}) {
    data_.issues = std::make_shared<IssueList>();
    data_.node_groups = std::make_shared<std::map<std::string, std::shared_ptr<ClusterDefinition>>>();
    for (const char* name : {"rack2", "rack1"}) {
      auto group = std::make_shared<ClusterDefinition>();
      group->node_names = {std::string(name) + "-n2", std::string(name) + "-n1"};
      (*data_.node_groups)[name] = group;
    }
  }
  void Populate(std::vector<Record> records) {
    data_.issues->assign(records.begin(), records.end());
    map_.PopulateSubclusters(data_);
    map_.PopulateIssues(data_);
  }
  // Fills data_ as the driver does, so that copies of it share the run's maps.
  void FillRun(std::vector<Record> records, MessageTables tables = {}) {
    Config config;
    config.node_groups = *data_.node_groups;
    config.message_tables = std::move(tables);
    config.issue_lists[Config::ISSUES] = std::move(records);
    ASSERT_EQ(UtilityFunctions().fillOutputData(config, data_), 0);
  }
  std::vector<std::string> Ids(const std::string& category, const std::string& subcluster) {
    std::vector<std::string> ids;
    for (const auto& issue : *map_.GetIssuesByCategory(category, subcluster)) ids.push_back(issue->get_id());
    return ids;
  }

  PostprocessorExtensionData data_;
  CategoryMap map_;
};

TEST_F(CategoryMapTest, FilesIssuesByCategoryAndSubcluster) {
  EXPECT_EQ(map_.non_issue_categories, (std::set<std::string>{"ERROR", "INFORMATIONAL"}));
  Populate({Rec("x", "A", "rack1", {"rack1-n1"}), Rec("x", "A", "rack1", {"rack1-n2"}), Rec("y", "A", "rack1", {"a"}),
            Rec("z", "B", "", {"b"}), Rec("s", "A", "rack1", {"c"}, true), Rec("t", "B", "", {"d"}, true),
            Rec("e", "ERROR", "rack2", {"e"}), Rec("o", "OTHER", "rack2", {"f"})});

  EXPECT_EQ(Ids("A", "rack1"), (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(map_.GetIssuesByCategory("A", "rack1")->front()->nodes, (std::set<std::string>{"rack1-n1", "rack1-n2"}));
  EXPECT_EQ(Ids("SUPPRESSED", "rack1"), std::vector<std::string>{"s"});
  ASSERT_EQ(map_.GetSuppressedIssues()->size(), 1u);
  EXPECT_EQ(map_.GetSuppressedIssues()->front()->get_id(), "t");

  std::vector<std::string> all;
  for (const auto& issue : map_.GetAllIssues()) all.push_back(issue->get_id());
  EXPECT_EQ(all, (std::vector<std::string>{"x", "y", "z", "e", "o", "t", "s"}));
  EXPECT_EQ(map_.GetNumIssuesByCategory("B"), 1);
  EXPECT_EQ(map_.GetNumIssuesByCategory("SUPPRESSED"), 2);
  EXPECT_EQ(map_.GetNumIssuesFound(), 6);  // all but ERROR, unreported OTHER included

  // The "" subcluster is not a subcluster: FoundIssues does not see it.
  EXPECT_TRUE(map_.FoundIssues("A"));
  EXPECT_FALSE(map_.FoundIssues("B"));
  EXPECT_FALSE(map_.FoundIssues("C"));
}

TEST_F(CategoryMapTest, AnotherCategoryOrSubclusterIsAnotherIssueAndMissingPairsGiveAFreshVector) {
  Populate({Rec("x", "A", "rack1", {"n"}), Rec("x", "B", "rack1", {"n"}), Rec("x", "A", "rack2", {"n"})});
  EXPECT_EQ(Ids("A", "rack1").size() + Ids("B", "rack1").size() + Ids("A", "rack2").size(), 3u);
  auto missing = map_.GetIssuesByCategory("A", "rack9");
  missing->push_back(nullptr);
  EXPECT_TRUE(map_.GetIssuesByCategory("A", "rack9")->empty());
  EXPECT_EQ(map_.issue_map.count({"A", "rack9"}), 0u);
  EXPECT_EQ(map_.GetIssuesByCategory("A", "rack1"), map_.issue_map.at({"A", "rack1"}));
}

// Extensions of a run asking for the same kind share one read-only map, which
// describes the run as it was first classified; a run data with an issue list
// of its own gets a map of its own.
TEST_F(CategoryMapTest, RunMapIsSharedByCopiesOfTheRunAndFixedForIt) {
  FillRun({Rec("x", "A", "rack1", {"rack1-n1"}), Rec("y", "C", "", {"rack2-n1"}), Rec("z", "C", "", {"elsewhere"})});
  const PostprocessorExtensionData copy = data_;
  const auto plain = CategoryMap::OfRun(data_, false);
  EXPECT_EQ(plain->categories, (std::set<std::string>{"A", "C", "ERROR", "INFORMATIONAL"}));
  EXPECT_FALSE(plain->table_mode);
  EXPECT_EQ(CategoryMap::OfRun(copy, false), plain);
  // A record without a node group goes with its nodes' group; one on nodes
  // of no group stays under "".
  EXPECT_EQ(plain->GetIssuesByCategory("C", "rack2")->size(), 1u);
  EXPECT_EQ(plain->GetIssuesByCategory("C", "")->size(), 1u);
  EXPECT_EQ(plain->GetIssueNodes(), (std::set<std::string>{"rack1-n1", "rack2-n1", "elsewhere"}));

  const auto tables = CategoryMap::OfRun(copy, true);
  EXPECT_NE(tables, plain);
  EXPECT_TRUE(tables->table_mode);
  EXPECT_EQ(CategoryMap::OfRun(data_, true), tables);

  // What an extension does to the list later does not change the run's map.
  data_.issues->push_back(Rec("w", "B", "rack1", {"rack1-n2"}));
  EXPECT_EQ(CategoryMap::OfRun(copy, false), plain);
  EXPECT_EQ(plain->GetNumIssuesFound(), 3);

  PostprocessorExtensionData replaced = data_;
  replaced.issues = std::make_shared<IssueList>();
  EXPECT_EQ(CategoryMap::OfRun(replaced, false)->GetNumIssuesFound(), 0);
  EXPECT_NE(CategoryMap::OfRun(replaced, false), CategoryMap::OfRun(replaced, false));
}

// A map with tables takes the run's table definitions and leaves the
// static table map alone. A map without tables still shows a table
// message's first row when the static map knows the table, and is built
// again once the static map changes.
TEST_F(CategoryMapTest, RunMapsReadTableDefinitionsWithoutWritingThem) {
  MessageTable::table_map.clear();
  FillRun({Rec("disk#1", "A", "rack1", {"rack1-n1"}), Rec("x", "A", "rack1", {"rack1-n2"})},
          {{"disk", {{"Device", "cell"}}}});
  const auto before = CategoryMap::OfRun(data_, false);
  EXPECT_FALSE(before->GetAllIssues().front()->is_table);
  EXPECT_TRUE(CategoryMap::OfRun(data_, true)->GetAllIssues().front()->is_table);
  EXPECT_TRUE(MessageTable::table_map.empty());
  EXPECT_EQ(CategoryMap::OfRun(data_, false), before);

  CategoryMap({"A"}, true).PopulateIssues(data_);  // copies the definitions in
  const auto after = CategoryMap::OfRun(data_, false);
  EXPECT_NE(after, before);
  EXPECT_TRUE(after->GetAllIssues().front()->is_table);
  MessageTable::table_map.clear();
}

TEST_F(CategoryMapTest, SubclustersFromNodesOrFromNodeGroups) {
  map_.PopulateSubclusters(data_);
  EXPECT_EQ(map_.GetSubclusters(), (std::set<std::string>{"rack1", "rack2"}));
  EXPECT_EQ(map_.GetNodesInSubcluster("rack1"), (Nodes{"rack1-n1", "rack1-n2"}));
  EXPECT_TRUE(map_.GetNodesInSubcluster("rack9").empty());

  data_.default_subcluster_only = true;
  data_.nodes = std::make_shared<std::vector<Node>>(std::vector<Node>{{"", "a"}, {"rack1", "b"}, {"", "a"}});
  CategoryMap from_nodes;
  from_nodes.PopulateSubclusters(data_);
  from_nodes.PopulateSubclusters(data_);
  EXPECT_EQ(from_nodes.subcluster_map,
            (std::map<std::string, Nodes>{{"default-subcluster", {"a", "a", "a", "a"}}, {"rack1", {"b", "b"}}}));

  // Issues of the empty group key join the default subcluster.
  data_.issues->assign({Rec("x", "A", "", {"a"}), Rec("y", "A", "rack1", {"b"})});
  from_nodes.PopulateIssues(data_);
  EXPECT_EQ(from_nodes.GetIssuesByCategory("A", "default-subcluster")->size(), 1u);
  EXPECT_TRUE(from_nodes.FoundIssues("A"));
  // There "" names the default group for lookups too.
  EXPECT_EQ(from_nodes.GetIssuesByCategory("A", ""), from_nodes.GetIssuesByCategory("A", "default-subcluster"));
  data_.issues->assign({Rec("s", "A", "", {"a"}, true)});
  from_nodes.PopulateIssues(data_);
  EXPECT_EQ(from_nodes.GetSuppressedIssues()->size(), 1u);

  data_.nodes = nullptr;
  data_.node_groups->emplace("rack0", nullptr);
  CategoryMap from_groups;
  from_groups.PopulateSubclusters(data_);
  EXPECT_EQ(from_groups.GetSubclusters(), (std::set<std::string>{"rack1", "rack2"}));
  data_.node_groups = nullptr;
  CategoryMap from_nothing;
  from_nothing.PopulateSubclusters(data_);
  EXPECT_TRUE(from_nothing.subcluster_map.empty());
}

TEST_F(CategoryMapTest, IssueNodesCountOnlyIssuesThatCountAndOnlyGrow) {
  auto mixed = Rec("mixed", "A", "rack2", {"m"});
  Populate({Rec("x", "A", "rack1", {"n1"}), Rec("u", "A", "", {"n2"}), Rec("v", "B", "", {"n3"}),
            Rec("s", "A", "rack1", {"n4"}, true), Rec("i", "INFORMATIONAL", "rack1", {"n5"}), mixed});
  mixed->category = "INFORMATIONAL";  // an issue's own category decides, not its key
  EXPECT_EQ(map_.GetIssueNodes(), (std::set<std::string>{"n1", "n2"}));

  // Without the earlier issues the nodes they brought stay.
  auto later = std::make_shared<CollapsedAnalysisOutput>(COLLAPSED);
  later->append(Rec("w", "B", "rack1", {"n6"}));
  map_.issue_map = {{{"B", "rack1"}, std::make_shared<CategoryMap::IssueVector>(1, later)}};
  EXPECT_EQ(map_.GetIssueNodes(), (std::set<std::string>{"n1", "n2", "n6"}));

  CategoryMap no_subclusters({"A"});
  data_.node_groups = nullptr;
  no_subclusters.PopulateIssues(data_);
  EXPECT_TRUE(no_subclusters.GetIssueNodes().empty());
}

TEST_F(CategoryMapTest, OverallResultLine) {
  auto line = [this](std::vector<Record> records) {
    map_ = CategoryMap({"A", "B", "ERROR", "INFORMATIONAL"});
    Populate(std::move(records));
    return map_.GetOverallResultString();
  };
  EXPECT_EQ(line({}), "  Overall Result: No issues found");
  EXPECT_EQ(line({Rec("u", "A", "", {"n"}), Rec("i", "INFORMATIONAL", "rack1", {"n"})}),
            "  Overall Result: No issues found");
  EXPECT_EQ(line({Rec("e", "ERROR", "rack1", {"n"})}), "  Overall Result: Could not run all tests.");
  EXPECT_EQ(line({Rec("x", "A", "rack2", {"n"})}), "  Overall Result: 1 issue found - A (1)");
  EXPECT_EQ(line({Rec("a1", "A", "rack1", {"n"}), Rec("b1", "B", "rack1", {"n"}), Rec("b2", "B", "rack2", {"n"}),
                  Rec("b3", "B", "rack2", {"n"}), Rec("a2", "A", "rack2", {"n"}), Rec("e", "ERROR", "rack1", {"n"})}),
            "  Overall Result: 5 issues found - A (2), B (3)");
}

TEST_F(CategoryMapTest, IssuesAreTiedToTheirDefinitionsAndFiledEvenWhenThatFails) {
  Config config;
  auto fwd = std::make_shared<Fwd>();
  fwd->name = "memory";
  fwd->signs = {"mem"};
  config.fwd_attributes->fwds["memory"] = fwd;
  config.observation_ids = {{"dimm", {"mem"}}};
  config.diagnosis_ids = {{"slow", {"dimm"}}};
  auto observed = Rec("dimm", "A", "rack1", {"n1"});
  observed->severity = 50;
  config.issue_lists[Config::OBSERVATIONS] = {observed};
  config.issue_lists[Config::ISSUES] = {Rec("slow#1", "A", "rack1", {"n1"}), observed,
                                        Rec("unmapped", "B", "rack1", {})};
  ASSERT_EQ(UtilityFunctions().fillOutputData(config, data_), 0);

  qorv::testing::CaptureOutput capture;
  map_.PopulateIssues(data_);
  EXPECT_EQ(capture.err(),
            "Error mapping observation unmapped to the rule/Framework Definition that triggered it.\n"
            "  Add unmapped to the run's observation sign map (observation_ids), with the names of the signs that "
            "produce it; it was being checked against Framework Definition memory.\n");
  const auto filed = map_.GetIssuesByCategory("A", "rack1");
  ASSERT_EQ(filed->size(), 2u);
  EXPECT_EQ(filed->at(0)->fwds, std::set<std::string>{"memory"});  // through the observation it was triggered by
  EXPECT_EQ(filed->at(1)->fwds, std::set<std::string>{"memory"});
  EXPECT_EQ(Ids("B", "rack1"), std::vector<std::string>{"unmapped"});
}

}  // namespace
}  // namespace qorv::postprocessor
