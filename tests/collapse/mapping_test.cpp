#include <gtest/gtest.h>

#include "postprocessor/collapse/category_map.h"
#include "postprocessor/collapse/collapsed_analysis_output.h"
#include "postprocessor/utility_functions.h"
#include "tests/collapse/records.h"
#include "tests/support/capture.h"

namespace qorv::postprocessor {
namespace {

using qorv::testing::CaptureOutput;
using Issue = std::shared_ptr<CollapsedAnalysisOutput>;

// A cluster whose memory definition covers the sign "mem" and whose cpu
// definition covers "cpu"; the diagnosis "slow-node" is triggered by the
// observations "dimm-errors" (mem) and "cpu-throttled" (cpu).
class MappingTest : public ::testing::Test {
 protected:
  MappingTest() {
    AddFwd("memory", {"mem"});
    AddFwd("cpu", {"cpu"});
    config_.observation_ids = {{"dimm-errors", {"mem"}}, {"cpu-throttled", {"cpu", "cpu2"}}};
    config_.diagnosis_ids = {{"slow-node", {"dimm-errors", "cpu-throttled"}}};
  }

  std::shared_ptr<Fwd> AddFwd(const std::string& name, std::set<std::string> signs) {
    auto fwd = std::make_shared<Fwd>();
    fwd->name = name;
    fwd->signs = std::move(signs);
    fwd->node = std::make_shared<FwdNode>();
    fwd->node->fwd = fwd;
    config_.fwd_attributes->fwds[name] = fwd;
    return fwd;
  }
  Fwd& Definition(const std::string& name) { return *config_.fwd_attributes->fwds.at(name); }
  void DependsOn(const std::string& parent, const std::string& child) {
    Definition(parent).node->dependencies.push_back({Definition(child).node});
  }

  // A record on n1.
  void Observe(const std::string& id, int severity) { Add(Config::OBSERVATIONS, id, severity); }
  void Diagnose(const std::string& id, int severity) { Add(Config::DIAGNOSES, id, severity); }
  void Add(Config::IssueListIndex list, const std::string& id, int severity) {
    config_.issue_lists[list].push_back(qorv::testing::MakeRecord(id, severity, {"n1"}));
  }
  int Fill() { return UtilityFunctions().fillOutputData(config_, data_); }
  Issue First(unsigned long key) { return data_.collapsed_by_type->at(IssueKey(key)).front(); }

  Config config_;
  PostprocessorExtensionData data_;
};

TEST_F(MappingTest, DiagnosisLinksItsTriggersAndTheirDefinitions) {
  Observe("dimm-errors#DIMM_A1", 80);
  Observe("cpu-throttled", 50);
  Diagnose("slow-node", 90);
  ASSERT_EQ(Fill(), 0);

  const Issue dimm = First(25), cpu = First(21), slow = First(24);
  EXPECT_EQ(slow->related.at(OBSERVATION), (std::set<Issue>{dimm, cpu}));
  EXPECT_EQ(dimm->related.at(DIAGNOSIS), std::set<Issue>{slow});
  EXPECT_EQ(slow->fwds, (std::set<std::string>{"cpu", "memory"}));
  EXPECT_EQ(dimm->fwds, std::set<std::string>{"memory"});

  // Both definitions failed and count their observation and the diagnosis.
  EXPECT_FALSE(Definition("memory").pass);
  EXPECT_EQ(Definition("memory").type_counts.at(IssueKey(8 + 3 + 16)), 1);
  EXPECT_EQ(Definition("memory").type_counts.at(IssueKey(24)), 1);
  EXPECT_EQ(Definition("cpu").type_counts.at(IssueKey(4 + 3 + 16)), 1);
}

TEST_F(MappingTest, DiagnosesTriggeringDiagnoses) {
  config_.diagnosis_ids["node-down"] = {"slow-node"};
  Observe("dimm-errors", 80);
  Diagnose("slow-node", 90);
  Diagnose("node-down", 95);
  ASSERT_EQ(Fill(), 0);
  const auto& critical = data_.collapsed_by_type->at(IssueKey(24));
  const Issue slow = critical[0], down = critical[1];
  EXPECT_EQ(down->related.at(DIAGNOSIS), std::set<Issue>{slow});
  EXPECT_EQ(slow->triggered_diagnoses, std::set<Issue>{down});
  EXPECT_EQ(down->fwds, std::set<std::string>{});  // only observations bring definitions
}

TEST_F(MappingTest, LookupsFindGroupsAtAFailLevelInsideAGroup) {
  // At FAIL level 50 the warning group is filed without the fail bit; the
  // lookups must look there too.
  config_.fail_level = 50;
  Observe("dimm-errors", 60);
  Diagnose("slow-node", 40);
  ASSERT_EQ(Fill(), 0);
  EXPECT_EQ(First(4)->related.at(OBSERVATION), std::set<Issue>{First(5)});
  EXPECT_EQ(First(4)->fwds, std::set<std::string>{"memory"});
  EXPECT_EQ(Definition("memory").type_counts.at(IssueKey(4)), 1);
  EXPECT_EQ(Definition("memory").type_counts.at(IssueKey(4 + 3 + 16)), 1);
}

// An observation fails its definition from the FAIL level on, and counts
// under its severity group with the fail bit from there; a definition
// without observations is left as it was.
TEST_F(MappingTest, ObservationsFailTheirDefinitionFromTheFailLevelOn) {
  const struct {
    int fail_level, severity;
    bool pass;
    unsigned long key;
  } cases[] = {{25, 10, true, 3},     {25, 24, true, 3},           {25, 25, false, 4 + 3 + 16},
               {50, 49, true, 4 + 3}, {50, 50, false, 4 + 3 + 16}, {100, 100, false, 8 + 3 + 16}};
  for (const auto& c : cases) {
    config_.fail_level = c.fail_level;
    config_.issue_lists[Config::OBSERVATIONS].clear();
    Observe("dimm-errors", c.severity);
    for (const char* name : {"memory", "cpu"}) {
      Definition(name).pass = true;
      Definition(name).type_counts.clear();
    }
    data_ = PostprocessorExtensionData();
    ASSERT_EQ(Fill(), 0);
    EXPECT_EQ(Definition("memory").pass, c.pass) << c.severity << " at FAIL level " << c.fail_level;
    EXPECT_EQ(Definition("memory").type_counts, (std::map<IssueKey, int, CompareBitset>{{IssueKey(c.key), 1}}))
        << c.severity << " at FAIL level " << c.fail_level;
    EXPECT_TRUE(Definition("cpu").pass);
    EXPECT_TRUE(Definition("cpu").type_counts.empty());
  }
}

TEST_F(MappingTest, UnknownIdsStopTheLinkingWithAMessage) {
  Observe("fan-failed", 80);
  CaptureOutput capture;
  EXPECT_EQ(Fill(), 1);
  // Once per run, with what to add where, however often the issue is classified.
  CategoryMap::OfRun(data_, true);
  EXPECT_EQ(capture.err(),
            "Error mapping observation fan-failed to the rule/Framework Definition that triggered it.\n"
            "  Add fan-failed to the run's observation sign map (observation_ids), with the names of the signs that "
            "produce it; it was being checked against Framework Definition cpu.\n");

  config_.issue_lists[Config::OBSERVATIONS].clear();
  Observe("dimm-errors", 80);
  Diagnose("mystery#7", 80);
  PostprocessorExtensionData other;
  CaptureOutput second;
  EXPECT_EQ(UtilityFunctions().fillOutputData(config_, other), 1);
  EXPECT_EQ(
      second.err(),
      "Error mapping diagnosis mystery#7 to the signs that triggered it.\n"
      "  Add mystery to the run's diagnosis sign map (diagnosis_ids), with the ids of the issues that trigger it.\n");
}

TEST_F(MappingTest, EmptySignListMapsToNothing) {
  config_.diagnosis_ids["lonely"] = {};
  Observe("dimm-errors", 80);
  Diagnose("lonely", 80);
  ASSERT_EQ(Fill(), 0);
  EXPECT_TRUE(First(24)->related.empty());
  EXPECT_TRUE(First(24)->fwds.empty());
}

TEST_F(MappingTest, DependenciesAddTheirObservationsOnce) {
  AddFwd("node", {"mem"});
  DependsOn("node", "memory");
  DependsOn("node", "cpu");
  Observe("dimm-errors", 80);
  Observe("cpu-throttled", 30);
  ASSERT_EQ(Fill(), 0);

  std::vector<Issue> observations;
  ASSERT_EQ(UtilityFunctions().FWDObservations(Definition("node"), data_, observations), 0);
  ASSERT_EQ(observations.size(), 2u);
  EXPECT_EQ(observations[0]->get_id(), "dimm-errors");
  EXPECT_EQ(observations[1]->get_id(), "cpu-throttled");
  EXPECT_EQ(Definition("node").type_counts.at(IssueKey(8 + 3 + 16)), 1);
}

TEST_F(MappingTest, DependencyCycleIsReportedNotFollowed) {
  AddFwd("a", {});
  AddFwd("b", {});
  DependsOn("a", "b");
  DependsOn("b", "memory");
  DependsOn("memory", "a");
  Observe("dimm-errors", 80);
  CaptureOutput capture;
  EXPECT_EQ(Fill(), 1);
  EXPECT_EQ(capture.err(), "Error: the Framework Definitions depend on each other in a cycle: a -> b -> memory -> a\n");
}

// A chain of definitions far deeper than a thread's stack would allow for
// a walk that recurses: the walk finds the observation at its end once, and
// a chain closed into a circle is reported by its first members and its
// length, not followed.
TEST_F(MappingTest, DeepDependencyChains) {
  Observe("dimm-errors", 80);
  Observe("cpu-throttled", 30);
  ASSERT_EQ(Fill(), 0);  // the chain is added after, so only the walk below takes it
  constexpr int kDepth = 30000;
  for (int i = 0; i < kDepth; ++i) AddFwd("d" + std::to_string(i), {});
  for (int i = 0; i + 1 < kDepth; ++i) DependsOn("d" + std::to_string(i), "d" + std::to_string(i + 1));
  DependsOn("d" + std::to_string(kDepth - 1), "memory");
  DependsOn("d" + std::to_string(kDepth - 1), "cpu");

  for (const char* closing : {"", "d0"}) {
    SCOPED_TRACE(closing);
    if (*closing) DependsOn("memory", closing);
    std::vector<Issue> observations;
    CaptureOutput capture;
    const int result = UtilityFunctions().FWDObservations(Definition("d0"), data_, observations);
    if (!*closing) {
      EXPECT_EQ(result, 0);
      ASSERT_EQ(observations.size(), 2u);
      EXPECT_EQ(observations[0]->get_id(), "dimm-errors");
      EXPECT_EQ(observations[1]->get_id(), "cpu-throttled");
      EXPECT_EQ(capture.err(), "");
    } else {
      EXPECT_EQ(result, 1);
      EXPECT_EQ(capture.err(),
                "Error: the Framework Definitions depend on each other in a cycle of 30001 "
                "definitions: d0 -> d1 -> d2 -> d3 -> d4 -> ... -> d0\n");
    }
  }
}

TEST_F(MappingTest, RunDataReleasesLinkedIssues) {
  Observe("dimm-errors", 80);
  Diagnose("slow-node", 90);
  std::weak_ptr<CollapsedAnalysisOutput> diagnosis;
  {
    PostprocessorExtensionData data;
    ASSERT_EQ(UtilityFunctions().fillOutputData(config_, data), 0);
    diagnosis = data.collapsed_by_type->at(IssueKey(24)).front();
  }
  EXPECT_TRUE(diagnosis.expired());
}

}  // namespace
}  // namespace qorv::postprocessor
