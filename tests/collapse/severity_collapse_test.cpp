#include <gtest/gtest.h>

#include <random>

#include "postprocessor/collapse/collapsed_analysis_output.h"
#include "postprocessor/utility_functions.h"
#include "tests/collapse/records.h"

namespace qorv::postprocessor {
namespace {

using Record = std::shared_ptr<analysis::AnalysisOutput>;
using Issue = std::shared_ptr<CollapsedAnalysisOutput>;
using qorv::testing::MakeRecord;

// A run whose sign maps know every id used, so linking succeeds.
struct TestRun {
  Config config;
  PostprocessorExtensionData data;

  TestRun() {
    config.diagnosis_ids = {{"diag", {}}};
    config.observation_ids = {{"obs", {"sign"}}};
  }
  int Fill() { return UtilityFunctions().fillOutputData(config, data); }
  const CollapsedIssues& At(unsigned long key) { return data.collapsed_by_type->at(IssueKey(key)); }
  int Count(unsigned long key) { return data.type_counts.at(IssueKey(key)); }
};

TEST(SeverityCollapseTest, SameIdSeverityAndMessageCollapse) {
  TestRun run;
  auto& diagnoses = run.config.issue_lists[Config::DIAGNOSES];
  diagnoses = {MakeRecord("diag", 80, {"n1"}), MakeRecord("diag", 80, {"n2"}), MakeRecord("diag", 30, {"n3"}),
               MakeRecord("diag", 80, {"n4"}, "other text"), MakeRecord("diag", 90, {"n5"}, "", true)};
  ASSERT_EQ(run.Fill(), 0);

  const auto& critical = run.At(24);
  ASSERT_EQ(critical.size(), 2u);
  EXPECT_EQ(critical[0]->nodes, (std::set<std::string>{"n1", "n2"}));
  EXPECT_EQ(critical[0]->type, DIAGNOSIS);
  EXPECT_EQ(run.At(20).size(), 1u);
  // The suppressed record is counted and named, but collapsed nowhere; the
  // counts are of issues, not records.
  EXPECT_EQ(run.data.suppressed_count, 1);
  EXPECT_EQ(*run.data.collapsed_names, (std::set<std::string>{"n1", "n2", "n3", "n4", "n5"}));
  EXPECT_EQ(run.Count(16), 3);
}

TEST(SeverityCollapseTest, GroupBoundaries) {
  TestRun run;
  auto& observations = run.config.issue_lists[Config::OBSERVATIONS];
  for (int severity : {24, 25, 74, 75, 100, 101, -1}) {
    observations.push_back(MakeRecord("obs", severity, {"n" + std::to_string(severity)}));
  }
  run.config.issue_lists[Config::THIRD] = {MakeRecord("obs", 0, {"t"})};
  ASSERT_EQ(run.Fill(), 0);
  auto severities = [&](unsigned long key) {
    std::vector<int> found;
    for (const auto& issue : run.At(key)) found.push_back(issue->get_severity());
    return found;
  };
  EXPECT_EQ(severities(1), std::vector<int>{24});
  EXPECT_EQ(severities(21), (std::vector<int>{25, 74}));
  EXPECT_EQ(severities(25), (std::vector<int>{75, 100}));
  EXPECT_EQ(severities(2), std::vector<int>{0});
  EXPECT_EQ(run.Count(19), 4);
  EXPECT_EQ(run.Count(3), 2);
}

TEST(SeverityCollapseTest, FailLevelsSetKeysAndCounts) {
  struct Case {
    int fail_level;
    std::vector<unsigned long> keys;
    int not_failing, failing;  // per type: diagnoses and observations alike
  };
  const Case cases[] = {
      {0, {16, 17, 18, 20, 21, 22, 24, 25, 26}, 0, 3}, {25, {0, 1, 2, 20, 21, 22, 24, 25, 26}, 1, 2},
      {50, {0, 1, 2, 4, 5, 6, 24, 25, 26}, 1, 2},  // counts take warning as failing, the keys do not
      {74, {0, 1, 2, 4, 5, 6, 24, 25, 26}, 1, 2},  // the level at the group's upper bound: still failing
      {75, {0, 1, 2, 4, 5, 6, 24, 25, 26}, 2, 1},
  };
  for (const Case& c : cases) {
    TestRun run;
    run.config.fail_level = c.fail_level;
    for (int severity : {10, 50, 90}) {
      run.config.issue_lists[Config::DIAGNOSES].push_back(MakeRecord("diag", severity, {"d"}));
      run.config.issue_lists[Config::OBSERVATIONS].push_back(MakeRecord("obs", severity, {"o"}));
    }
    ASSERT_EQ(run.Fill(), 0) << c.fail_level;
    std::vector<unsigned long> keys;
    for (const auto& entry : *run.data.collapsed_by_type) keys.push_back(entry.first.to_ulong());
    EXPECT_EQ(keys, c.keys) << c.fail_level;
    EXPECT_EQ(run.Count(0), c.not_failing) << c.fail_level;
    EXPECT_EQ(run.Count(3), c.not_failing) << c.fail_level;
    EXPECT_EQ(run.Count(16), c.failing) << c.fail_level;
    EXPECT_EQ(run.Count(19), c.failing) << c.fail_level;
  }
}

// The walk the indexed collapse must reproduce: first issue of out with the
// same id, severity and message.
void LiteralCollapse(const std::vector<Record>& records, std::vector<Issue>& out, PostprocessorExtensionData& data,
                     Type type) {
  for (const auto& record : records) {
    if (record->suppressed) {
      ++data.suppressed_count;
    } else {
      Issue match;
      for (const auto& issue : out) {
        if (issue->get_id() == record->id && issue->get_severity() == record->severity &&
            issue->get_message() == record->message) {
          match = issue;
          break;
        }
      }
      if (!match) {
        match = std::make_shared<CollapsedAnalysisOutput>(type);
        out.push_back(match);
      }
      match->append(record);
    }
    if (!data.collapsed_names) data.collapsed_names = std::make_shared<std::set<std::string>>();
    data.collapsed_names->insert(record->nodes.begin(), record->nodes.end());
  }
}

std::vector<Record> RandomRecords(std::mt19937& random, int count, unsigned messages = 3) {
  std::vector<Record> records;
  for (int i = 0; i < count; ++i) {
    // One in three repeats the issue before it on another node, as sorted
    // lists do.
    if (!records.empty() && random() % 3 == 0) {
      const auto& last = *records.back();
      records.push_back(
          MakeRecord(last.id, last.severity, {"n" + std::to_string(random() % 6)}, last.message, random() % 7 == 0));
      continue;
    }
    records.push_back(MakeRecord("id" + std::to_string(random() % 4), static_cast<int>(random() % 3) * 40,
                                 {"n" + std::to_string(random() % 6)}, "m" + std::to_string(random() % messages),
                                 random() % 7 == 0));
  }
  return records;
}

TEST(SeverityCollapseTest, IndexedCollapseMatchesTheLiteralWalk) {
  std::mt19937 random(20261207);
  for (int round = 0; round < 2004; ++round) {
    // The last rounds have thousands of distinct issues: the index grows.
    const unsigned messages = round < 2000 ? 3 : 1000;
    const auto prefill = RandomRecords(random, static_cast<int>(random() % 4), messages);
    const auto records = RandomRecords(random, round < 2000 ? static_cast<int>(random() % 40) : 3000, messages);

    std::vector<Issue> expected, actual;
    for (const auto& record : prefill) {  // out may hold issues, even repeated ones, before the call
      for (auto* out : {&expected, &actual}) {
        out->push_back(std::make_shared<CollapsedAnalysisOutput>(OBSERVATION));
        out->back()->append(record);
      }
    }
    PostprocessorExtensionData expected_data, actual_data;
    LiteralCollapse(records, expected, expected_data, DIAGNOSIS);
    UtilityFunctions().CollapseAnalysisOutputs(records, actual, actual_data, DIAGNOSIS);

    ASSERT_EQ(actual.size(), expected.size()) << round;
    for (std::size_t i = 0; i < actual.size(); ++i) {
      ASSERT_EQ(actual[i]->issues, expected[i]->issues) << round;
      ASSERT_EQ(actual[i]->type, expected[i]->type) << round;
    }
    ASSERT_EQ(actual_data.suppressed_count, expected_data.suppressed_count);
    ASSERT_EQ(actual_data.collapsed_names == nullptr, expected_data.collapsed_names == nullptr);
  }
}

TEST(SeverityCollapseTest, LinkingMatchesTheWalkingLookup) {
  std::mt19937 random(7);
  UtilityFunctions utility;
  for (int round = 0; round < 300; ++round) {
    TestRun run;
    run.config.fail_level = static_cast<int>(random() % 101);
    for (int i = 0; i < 30; ++i) {
      const std::string obs = "obs" + std::to_string(random() % 5) + (random() % 2 ? "#sub" : "");
      run.config.observation_ids[utility.get_usable_id(obs)] = {"sign"};
      run.config.issue_lists[Config::OBSERVATIONS].push_back(
          MakeRecord(obs, static_cast<int>(random() % 101), {"n" + std::to_string(i)}));
    }
    for (int d = 0; d < 3; ++d) {
      const std::string id = "diag" + std::to_string(d);
      std::vector<std::string> signs;
      for (int i = 0; i < 6; ++i) signs.push_back(random() % 3 ? "obs" + std::to_string(random() % 7) : "diag0");
      run.config.diagnosis_ids[id] = signs;
      run.config.issue_lists[Config::DIAGNOSES].push_back(MakeRecord(id, static_cast<int>(random() % 101), {"n0"}));
    }
    ASSERT_EQ(run.Fill(), 0);

    // The run linked through its index; the public lookup walks.
    for (const auto& [key, issues] : *run.data.collapsed_by_type) {
      if ((key.to_ulong() & 3UL) != DIAGNOSIS) continue;
      for (const auto& diagnosis : issues) {
        for (Type type : {OBSERVATION, DIAGNOSIS}) {
          std::vector<Issue> walked;
          ASSERT_EQ(utility.DiagnosisMapping(diagnosis, run.data, walked, type), 0);
          const std::set<Issue> expected(walked.begin(), walked.end());
          const auto linked = diagnosis->related.find(type);
          EXPECT_EQ(linked == diagnosis->related.end() ? std::set<Issue>() : linked->second, expected) << round;
        }
      }
    }
  }
}

}  // namespace
}  // namespace qorv::postprocessor
