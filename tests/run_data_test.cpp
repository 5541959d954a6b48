#include <gtest/gtest.h>

#include <ctime>

#include "postprocessor/postprocessor_extension.h"
#include "postprocessor/postprocessor_extension_data.h"
#include "postprocessor/utility_functions.h"

namespace qorv::postprocessor {
namespace {

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

TEST(RunDataTest, CopiesShareOnlyTheSharedFields) {
  Config config;
  config.issue_lists[Config::ISSUES] = {std::make_shared<analysis::AnalysisOutput>()};
  PostprocessorExtensionData data;
  ASSERT_EQ(UtilityFunctions().fillOutputData(config, data), 0);

  PostprocessorExtensionData copy;
  copy = data;
  copy = copy;  // self-assignment keeps everything
  data.issues->push_back(std::make_shared<analysis::AnalysisOutput>());
  data.width = 132;
  EXPECT_EQ(copy.issues->size(), 2u);
  EXPECT_EQ(copy.width, 80);
  EXPECT_EQ(copy.fwd_attributes, data.fwd_attributes);
}

struct PlainExtension : PostprocessorExtension {
  using PostprocessorExtension::PostprocessorExtension;
  int run() override { return PostprocessorExtension::run(); }
};

TEST(RunDataTest, ExtensionBaseCopiesTheRunDataAndItsRunBodyReturnsZero) {
  PostprocessorExtensionData data;
  data.width = 120;
  data.issues = std::make_shared<IssueList>();
  PlainExtension extension(data);
  EXPECT_EQ(extension.run(), 0);
  EXPECT_EQ(extension.data.width, 120);
  EXPECT_EQ(extension.data.issues, data.issues);
  EXPECT_FALSE(std::is_copy_constructible_v<PlainExtension>);
}

}  // namespace
}  // namespace qorv::postprocessor
