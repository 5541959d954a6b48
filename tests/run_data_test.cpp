#include <gtest/gtest.h>

#include <cstddef>
#include <ctime>
#include <type_traits>

#include "postprocessor/host/issue_key.h"
#include "postprocessor/postprocessor_extension.h"
#include "postprocessor/postprocessor_extension_data.h"
#include "postprocessor/utility_functions.h"

namespace qorv::postprocessor {
namespace {

// The run data record extensions compile against: its documented fields, in
// their documented order, and nothing else. Any field added, removed,
// retyped or moved fails the build here.
struct DocumentedRunData {
  std::vector<std::string> databases;
  std::time_t timestamp;
  std::string nodefile;
  std::string output_file;
  std::string command_line;
  std::string node_groups_file;
  bool passed;
  bool fail_level_set;
  bool default_subcluster_only;
  std::int32_t fail_level;
  std::int32_t suppressed_count;
  std::int32_t width;
  std::map<IssueKey, std::int32_t, CompareBitset> type_counts;
  std::set<std::string> tested_names;
  std::shared_ptr<std::vector<Node>> nodes;
  std::shared_ptr<std::vector<std::string>> include_nodes;
  std::shared_ptr<std::map<std::string, std::shared_ptr<ClusterDefinition>>> node_groups;
  std::shared_ptr<std::set<std::string>> collapsed_names;
  std::shared_ptr<FWDAttributes> fwd_attributes;
  std::shared_ptr<std::vector<std::string>> fwd_names;
  std::shared_ptr<std::vector<std::shared_ptr<analysis::AnalysisOutput>>> issues;
  std::shared_ptr<std::map<IssueKey, std::vector<std::shared_ptr<CollapsedAnalysisOutput>>, CompareBitset>>
      collapsed_by_type;
  std::string extra_text_setting;
  std::shared_ptr<std::map<std::string, std::vector<std::string>>> diagnosis_ids;
  std::shared_ptr<std::map<std::string, std::vector<std::string>>> observation_ids;
  std::shared_ptr<std::map<std::string, std::map<std::string, std::set<std::string>>>> reports;
  std::map<std::string, std::vector<std::pair<std::string, std::string>>> message_tables;
  std::vector<std::map<std::string, std::vector<ProviderOptionset>>> provider_optionsets;
};

static_assert(!std::is_polymorphic_v<PostprocessorExtensionData>);
static_assert(sizeof(PostprocessorExtensionData) == sizeof(DocumentedRunData), "a field too many or too few");

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
// Every documented field, in order.
// clang-format off
#define QORV_DOCUMENTED_FIELDS(CHECK)                                                                           \
  CHECK(databases) CHECK(timestamp) CHECK(nodefile) CHECK(output_file) CHECK(command_line)                      \
  CHECK(node_groups_file) CHECK(passed) CHECK(fail_level_set) CHECK(default_subcluster_only) CHECK(fail_level)  \
  CHECK(suppressed_count) CHECK(width) CHECK(type_counts) CHECK(tested_names) CHECK(nodes) CHECK(include_nodes) \
  CHECK(node_groups) CHECK(collapsed_names) CHECK(fwd_attributes) CHECK(fwd_names) CHECK(issues)                \
  CHECK(collapsed_by_type) CHECK(extra_text_setting) CHECK(diagnosis_ids) CHECK(observation_ids)                \
  CHECK(reports) CHECK(message_tables) CHECK(provider_optionsets)
// clang-format on
#define QORV_DOCUMENTED_FIELD(name)                                                                            \
  static_assert(std::is_same_v<decltype(PostprocessorExtensionData::name), decltype(DocumentedRunData::name)>, \
                #name " has another type");                                                                    \
  static_assert(offsetof(PostprocessorExtensionData, name) == offsetof(DocumentedRunData, name), #name " moved");
QORV_DOCUMENTED_FIELDS(QORV_DOCUMENTED_FIELD)
#undef QORV_DOCUMENTED_FIELDS
#undef QORV_DOCUMENTED_FIELD
#pragma GCC diagnostic pop

std::shared_ptr<ClusterDefinition> Group(const std::string& name) {
  auto group = std::make_shared<ClusterDefinition>();
  group->name = name;
  return group;
}

TEST(RunDataTest, DefaultsWhenTheConfigurationSetsNothing) {
  Config config;
  PostprocessorExtensionData data;
  const std::time_t before = std::time(nullptr);
  ASSERT_EQ(UtilityFunctions().fillOutputData(config, data), 0);

  EXPECT_EQ(data.output_file, "qorv_results.log");
  EXPECT_EQ(data.fail_level, 25);
  EXPECT_FALSE(data.fail_level_set);
  EXPECT_TRUE(data.passed);
  EXPECT_GE(data.timestamp, before);
  config.timestamp = 1770102309;  // a host-fixed time stamp is taken as it is
  PostprocessorExtensionData fixed;
  UtilityFunctions().fillOutputData(config, fixed);
  EXPECT_EQ(fixed.timestamp, 1770102309);
  for (unsigned long key : {0UL, 3UL, 16UL, 19UL}) {
    ASSERT_EQ(data.type_counts.count(IssueKey(key)), 1u) << key;
    EXPECT_EQ(data.type_counts.at(IssueKey(key)), 0);
  }
  EXPECT_EQ(data.fwd_attributes, config.fwd_attributes);
  ASSERT_TRUE(data.issues && data.nodes && data.include_nodes && data.node_groups && data.fwd_names &&
              data.diagnosis_ids && data.observation_ids);
  EXPECT_FALSE(data.default_subcluster_only);
}

TEST(RunDataTest, CopiesFromTheConfiguration) {
  Config config;
  config.fail_level = 0;
  config.passed = false;
  config.output_file = "out/run.log";
  config.nodes = {{"", "n1"}, {"gpu", "g1"}};
  config.issue_lists[Config::ISSUES] = {std::make_shared<analysis::AnalysisOutput>()};
  config.fwd_attributes->names = {"fwd-a"};
  config.node_groups["default-subcluster"] = Group("default-subcluster");

  PostprocessorExtensionData data;
  ASSERT_EQ(UtilityFunctions().fillOutputData(config, data), 0);
  EXPECT_EQ(data.fail_level, 0);
  EXPECT_TRUE(data.fail_level_set);
  EXPECT_FALSE(data.passed);
  EXPECT_EQ(data.output_file, "out/run.log");
  EXPECT_EQ(data.nodes->size(), 2u);
  EXPECT_EQ(*data.fwd_names, std::vector<std::string>{"fwd-a"});
  EXPECT_TRUE(data.default_subcluster_only);
  // Fresh containers: the issue records are shared, the list is not.
  EXPECT_EQ(data.issues->front(), config.issue_lists[Config::ISSUES].front());
  data.issues->clear();
  EXPECT_EQ(config.issue_lists[Config::ISSUES].size(), 1u);

  config.node_groups["gpu"] = Group("gpu");
  PostprocessorExtensionData two_groups;
  ASSERT_EQ(UtilityFunctions().fillOutputData(config, two_groups), 0);
  EXPECT_FALSE(two_groups.default_subcluster_only);
}

}  // namespace
}  // namespace qorv::postprocessor
