// The qorv_json extension, loaded from the build's extension directory and
// run by the real driver on small hand-built runs; the file is read back
// with a strict JSON parser. The schema check (validate_results_json.py)
// validates the documents these tests leave in QORV_JSON_SAMPLES.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "postprocessor/postprocessor.h"
#include "postprocessor/version.h"
#include "tests/support/capture.h"
#include "tests/support/temp_dir.h"

namespace qorv::postprocessor {
namespace {

using nlohmann::json;
using qorv::testing::CaptureOutput;
using qorv::testing::ReadFile;
using qorv::testing::TempDir;
using Strings = std::vector<std::string>;

std::shared_ptr<analysis::AnalysisOutput> Record(std::string id, int severity, Strings nodes,
                                                 std::string subcluster = "", bool suppressed = false) {
  auto record = std::make_shared<analysis::AnalysisOutput>();
  record->id = std::move(id);
  record->severity = severity;
  record->nodes = std::move(nodes);
  record->subcategory = std::move(subcluster);
  record->suppressed = suppressed;
  return record;
}

class QorvJsonTest : public ::testing::Test {
 protected:
  QorvJsonTest() : work_(true) { NewConfig(); }

  void NewConfig() {
    config_ = std::make_shared<Config>();
    config_->extension_specs.push_back(ExtensionSpec{{"qorv_json"}, QORV_EXTENSION_DIR});
    config_->timestamp = 1700000000;
  }

  // Runs the driver and returns the document's bytes; keeps a copy for the
  // schema check when QORV_JSON_SAMPLES names a directory.
  std::string Run(const std::string& file = "qorv_results.json") {
    CaptureOutput capture;
    EXPECT_EQ(run_postprocessor(config_), 0) << capture.err();
    const std::string text = ReadFile(file);
    if (const char* samples = std::getenv("QORV_JSON_SAMPLES")) {
      const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
      std::filesystem::create_directories(samples);
      std::ofstream(std::string(samples) + "/" + test->name() + "-" + std::to_string(++runs_) + ".json",
                    std::ios::binary)
          << text;
    }
    return text;
  }
  json Parse(const std::string& file = "qorv_results.json") { return json::parse(Run(file)); }

  // A run with a diagnosis triggered by an observation, an observation of
  // another definition, a runtime problem and a suppressed record; the
  // report's issue list spread over two node groups.
  void BuildRun() {
    auto& lists = config_->issue_lists;
    lists[Config::DIAGNOSES] = {Record("diag-x", 50, {"n1"})};
    lists[Config::OBSERVATIONS] = {Record("obs-a", 80, {"n1"}), Record("obs-a", 80, {"n2"}),
                                   Record("obs-b", 10, {"n3"}), Record("obs-c", 90, {"n4"}, "", true)};
    lists[Config::THIRD] = {Record("runtime-1", 30, {"n4"})};
    lists[Config::ISSUES] = {Record("obs-a", 80, {"n1"}, "rack1"), Record("obs-a", 80, {"n2"}, "rack1"),
                             Record("obs-b", 10, {"n3"}, "rack2"), Record("obs-c", 90, {"n4"}, "rack2", true)};
    config_->category_map = {{"obs-a", "PERFORMANCE"}};
    config_->diagnosis_ids = {{"diag-x", {"obs-a"}}};
    config_->observation_ids = {{"obs-a", {"sign-a"}}, {"obs-b", {"sign-b"}}, {"runtime-1", {}}};
    for (const auto& [name, sign] : {std::pair{"fwd-cpu", "sign-a"}, std::pair{"fwd-mem", "sign-b"}}) {
      auto fwd = std::make_shared<Fwd>();
      fwd->name = name;
      fwd->path = std::string("/defs/") + name + ".xml";
      fwd->signs = {sign};
      config_->fwd_attributes->fwds[name] = fwd;
    }
    for (const auto& [name, nodes] : {std::pair{"rack1", Strings{"n1", "n2"}}, std::pair{"rack2", Strings{"n3", "n4"}}}) {
      auto group = std::make_shared<ClusterDefinition>();
      group->name = name;
      group->node_names = {nodes.begin(), nodes.end()};
      config_->node_groups[name] = group;
    }
    config_->tested_names = {"n1", "n2", "n3", "n4"};
    config_->passed = false;
    config_->command_line = "qorv --fwd cpu";
    config_->report_messages["disk"] = {templates::Reports_msg{"disk almost full", {}, {"n2", "n1"}, ""}};
  }

  TempDir work_;
  std::shared_ptr<Config> config_;
  int runs_ = 0;
};

TEST_F(QorvJsonTest, ReportsTheRunItsIssuesAndTheirLinks) {
  BuildRun();
  const json doc = Parse();

  EXPECT_EQ(doc["schema_version"], 1);
  EXPECT_EQ(doc["product"], (json{{"name", kProductName}, {"version", kProductVersion}}));
  EXPECT_EQ(doc["run"]["timestamp"], 1700000000);
  EXPECT_EQ(doc["run"]["time_utc"], "2023-11-14T22:13:20Z");
  EXPECT_EQ(doc["run"]["command_line"], "qorv --fwd cpu");

  const json& result = doc["result"];
  EXPECT_EQ(result["overall"], "FAIL");
  EXPECT_EQ(result["fail_level"], (json{{"value", 25}, {"set", false}, {"severity_group", "WARNING"}}));
  // diag-x (50) fails; obs-a (80) and runtime-1 (30) count as failing observations.
  EXPECT_EQ(result["counts"]["contributing_to_fail"], (json{{"diagnoses", 1}, {"observations", 2}}));
  EXPECT_EQ(result["counts"]["other"], (json{{"diagnoses", 0}, {"observations", 1}}));
  EXPECT_EQ(result["counts"]["suppressed"], 1);
  EXPECT_EQ(result["summary"], "2 issues found - FUNCTIONALITY (1), PERFORMANCE (1)");

  // Issues in key order: informational, then warning, then critical.
  const json& issues = doc["issues"];
  ASSERT_EQ(issues.size(), 4u);
  const struct {
    const char* id;
    const char* type;
    const char* group;
    bool fail;
    Strings fwds;
    std::vector<int> triggered_by, triggers;
  } expected[] = {
      {"obs-b", "observation", "INFORMATIONAL", false, {"fwd-mem"}, {}, {}},
      {"diag-x", "diagnosis", "WARNING", true, {"fwd-cpu"}, {3}, {}},
      {"runtime-1", "third_list", "WARNING", true, {}, {}, {}},
      {"obs-a", "observation", "CRITICAL", true, {"fwd-cpu"}, {}, {1}},
  };
  for (std::size_t i = 0; i < issues.size(); ++i) {
    SCOPED_TRACE(expected[i].id);
    EXPECT_EQ(issues[i]["ref"], i);
    EXPECT_EQ(issues[i]["id"], expected[i].id);
    EXPECT_EQ(issues[i]["message"], expected[i].id);
    EXPECT_EQ(issues[i]["type"], expected[i].type);
    EXPECT_EQ(issues[i]["severity_group"], expected[i].group);
    EXPECT_EQ(issues[i]["contributes_to_fail"], expected[i].fail);
    EXPECT_EQ(issues[i]["framework_definitions"], expected[i].fwds);
    EXPECT_EQ(issues[i]["triggered_by"], expected[i].triggered_by);
    EXPECT_EQ(issues[i]["triggers"], expected[i].triggers);
  }
  EXPECT_EQ(issues[3]["nodes"], (json{{"range", "n[1-2]"}, {"count", 2}, {"names", {"n1", "n2"}}}));
  EXPECT_EQ(issues[3]["records"], 2);
  EXPECT_EQ(doc["runtime_problems"], json::array({2}));

  const json& fwds = doc["framework_definitions"];
  ASSERT_EQ(fwds.size(), 2u);
  EXPECT_EQ(fwds[0]["name"], "fwd-cpu");
  EXPECT_EQ(fwds[0]["short_name"], "fwd-cpu");
  EXPECT_EQ(fwds[0]["passed"], false);
  EXPECT_EQ(fwds[1]["passed"], true);
  EXPECT_EQ(fwds[1]["counts"], json::array({{{"severity_group", "INFORMATIONAL"},
                                             {"type", "observation"},
                                             {"contributes_to_fail", false},
                                             {"count", 1}}}));
}

TEST_F(QorvJsonTest, ReportsCategoriesSubclustersNodeGroupsAndReports) {
  BuildRun();
  const json doc = Parse();

  const json& categories = doc["categories"];
  ASSERT_EQ(categories.size(), 5u);
  const struct {
    const char* name;
    bool reported;
    bool counts_as_issue;
    int count;
    Strings subclusters;
  } expected[] = {
      {"ERROR", true, false, 0, {}},
      {"FUNCTIONALITY", true, true, 1, {"rack2"}},
      {"INFORMATIONAL", true, false, 0, {}},
      {"PERFORMANCE", true, true, 1, {"rack1"}},
      {"SUPPRESSED", false, false, 1, {"rack2"}},
  };
  for (std::size_t i = 0; i < categories.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(categories[i]["name"], expected[i].name);
    EXPECT_EQ(categories[i]["reported"], expected[i].reported);
    EXPECT_EQ(categories[i]["counts_as_issue"], expected[i].counts_as_issue);
    EXPECT_EQ(categories[i]["issue_count"], expected[i].count);
    ASSERT_EQ(categories[i]["subclusters"].size(), expected[i].subclusters.size());
    if (!expected[i].subclusters.empty()) {
      EXPECT_EQ(categories[i]["subclusters"][0]["name"], expected[i].subclusters[0]);
    }
  }
  const json& performance = categories[3]["subclusters"][0]["issues"][0];
  EXPECT_EQ(performance["id"], "obs-a");
  EXPECT_EQ(performance["nodes"]["names"], (Strings{"n1", "n2"}));
  EXPECT_EQ(performance["framework_definitions"], Strings{"fwd-cpu"});
  EXPECT_EQ(categories[4]["subclusters"][0]["issues"][0]["suppressed"], true);

  EXPECT_EQ(doc["subclusters"][1], (json{{"name", "rack2"}, {"nodes", {{"range", "n[3-4]"}, {"count", 2}, {"names", {"n3", "n4"}}}}}));
  EXPECT_EQ(doc["tested_nodes"]["range"], "n[1-4]");
  EXPECT_EQ(doc["issue_nodes"]["names"], (Strings{"n1", "n2", "n3"}));
  EXPECT_EQ(doc["node_groups"][0]["name"], "rack1");
  EXPECT_EQ(doc["node_groups"][0]["nodes"]["names"], (Strings{"n1", "n2"}));
  EXPECT_EQ(doc["reports"], json::parse(R"([{"id": "disk", "messages": [
      {"text": "disk almost full", "nodes": {"range": "n[1-2]", "count": 2, "names": ["n1", "n2"]}}]}])"));
}

TEST_F(QorvJsonTest, EscapesEveryStringAndReplacesInvalidUtf8) {
  const std::string kFffd = "\xEF\xBF\xBD";
  const struct {
    std::string raw, decoded;
  } cases[] = {
      {"say \"hi\" C:\\tmp", "say \"hi\" C:\\tmp"},
      {std::string("bell\a nul\0 esc\x1b tab\t nl\n", 25), std::string("bell\a nul\0 esc\x1b tab\t nl\n", 25)},
      {"caf\xC3\xA9 \xF0\x9F\x98\x80", "caf\xC3\xA9 \xF0\x9F\x98\x80"},
      {"bad \xFF\xC0\xAF end \xE2\x82", "bad " + kFffd + kFffd + kFffd + " end " + kFffd},
  };
  for (const auto& test : cases) {
    config_->command_line = test.raw;
    config_->issue_lists[Config::OBSERVATIONS] = {Record(test.raw, 30, {"rack,1", test.raw})};
    config_->tested_names = {"rack,1", test.raw};
    const json doc = Parse();  // throws on invalid JSON or UTF-8
    SCOPED_TRACE(test.decoded);
    EXPECT_EQ(doc["run"]["command_line"], test.decoded);
    EXPECT_EQ(doc["issues"][0]["id"], test.decoded);
    EXPECT_EQ(doc["issues"][0]["message"], test.decoded);
    // The names list keeps a node name with a comma whole.
    EXPECT_EQ(doc["tested_nodes"]["names"].size(), 2u);
    EXPECT_NE(std::find(doc["tested_nodes"]["names"].begin(), doc["tested_nodes"]["names"].end(), "rack,1"),
              doc["tested_nodes"]["names"].end());
  }
}

TEST_F(QorvJsonTest, LargeRunIsStreamedAndTheSameRunGivesTheSameBytes) {
  // The driver's definition verdicts accumulate in the host's records, so
  // each run gets a configuration of its own.
  const auto run = [this] {
    NewConfig();
    BuildRun();
    for (int i = 0; i < 3000; ++i) {
      const std::string id = "obs-a#" + std::to_string(i % 500);
      const Strings nodes = {"node" + std::to_string(i)};
      config_->issue_lists[Config::OBSERVATIONS].push_back(Record(id, 20 + i % 70, nodes));
      config_->issue_lists[Config::ISSUES].push_back(Record(id, 20 + i % 70, nodes, "rack1"));
    }
    return Run();
  };
  const std::string first = run();
  EXPECT_EQ(first, run());
  const json doc = json::parse(first);
  EXPECT_GT(first.size(), 256u * 1024);
  EXPECT_GT(doc["issues"].size(), 500u);
  // Every link points at an issue of the document.
  for (const auto& issue : doc["issues"]) {
    for (const auto* links : {"triggered_by", "triggers"}) {
      for (const auto& ref : issue[links]) EXPECT_LT(ref.get<std::size_t>(), doc["issues"].size());
    }
  }
}

TEST_F(QorvJsonTest, EmptyRunAndOutputFileNaming) {
  config_->output_file = "out/run.log";
  config_->timestamp = std::numeric_limits<std::time_t>::max();
  const json doc = Parse("out/run.json");
  EXPECT_EQ(doc["run"]["time_utc"], nullptr);
  EXPECT_EQ(doc["result"]["overall"], "PASS");
  EXPECT_EQ(doc["result"]["summary"], "No issues found");
  for (const char* list : {"framework_definitions", "issues", "runtime_problems", "reports"}) {
    EXPECT_EQ(doc[list], json::array()) << list;
  }
  // The runtime errors and the additional information are always listed.
  ASSERT_EQ(doc["categories"].size(), 2u);
  EXPECT_EQ(doc["categories"][0]["issue_count"], 0);
}

}  // namespace
}  // namespace qorv::postprocessor
