// Composed reports of a hand-built run compared byte for byte with the files
// in tests/report/golden, so that every change to report text shows in
// review. Regenerate them after an intended change with
//   QORV_UPDATE_GOLDEN=1 build/tests/report_test --gtest_filter='GoldenReport*'
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "postprocessor/collapse/category_map.h"
#include "postprocessor/host/fs.h"
#include "postprocessor/host/str.h"
#include "postprocessor/intake/issue_processor.h"
#include "postprocessor/intake/message_table.h"
#include "postprocessor/report/category_printing.h"
#include "postprocessor/report/subcluster_printing.h"
#include "tests/intake/catalog_fixture.h"
#include "tests/report/report_fixture.h"

namespace qorv::postprocessor {
namespace {

using testing::Definition;
using testing::Printed;

const char* const kMessages[][2] = {
    {"mem-ecc", "Correctable ECC errors on {0} exceed {1} per hour."},
    {"mem-ecc-fix", "Reseat or replace the DIMM reported by the BMC event log."},
    {"diag-dimm", "A memory module is failing."},
    {"ib-down", "InfiniBand port {0} is down."},
    {"ib-down-fix", "Check the cable and the switch port."},
    {"cpu-freq", "CPU frequency is {0}% below nominal, which slows every job scheduled on the node."},
    {"bios", "BIOS version {0} differs from the rest of the cluster."},
    {"gpu-run", "The test gpu-burn could not run: {0}."},
    {"fan", "Fan speed is low."},
    {"mount", "File systems above their fill threshold."},
    {"mount-path", "{0}"},
    {"mount-use", "{1}%"},
};

struct Issue {
  int list;  // 0 diagnoses, 1 observations, 2 runtime problems
  const char* id;
  int severity;
  std::vector<std::string> nodes;
  std::vector<std::string> args;
  const char* group;
  bool suppressed = false;
};

// A small cluster: compute c01-c08, gpu g1-g4 and login1 in the default
// group; definitions cluster -> {node, network}, {scheduler} and
// node -> {cpu, memory}, plus a solution validation.
class GoldenReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::map<std::string, std::string> messages;
    for (const auto& message : kMessages) messages[message[0]] = message[1];
    dir_.Write("messages.xml", testing::CatalogXml(messages));
  }
  void TearDown() override { MessageTable::table_map.clear(); }

  // Fills the run data as the driver does; node_groups false puts every
  // node into the single default group.
  PostprocessorExtensionData Run(bool node_groups) {
    auto config = std::make_shared<Config>();
    config->command_line = "qorv -f /etc/qorv/cluster.xml --nodefile /etc/qorv/nodes";
    config->nodefile = "/etc/qorv/nodes";
    config->databases = {"\"/var/lib/qorv/perf.db\"", "/var/lib/qorv/inventory.db"};
    config->fail_level = 25;
    config->passed = false;
    config->timestamp = 1770102309;

    auto& attributes = *config->fwd_attributes;
    auto cluster = Definition(attributes, "cluster");
    auto node = Definition(attributes, "node");
    auto network = Definition(attributes, "network");
    auto scheduler = Definition(attributes, "scheduler");
    auto cpu = Definition(attributes, "cpu");
    auto memory = Definition(attributes, "memory");
    auto ready = Definition(attributes, "hpc-ready", "HPC Ready");
    cluster->dependencies = {{node, network}, {scheduler}};
    node->dependencies = {{cpu, memory}};
    ready->dependencies = {{cluster}};
    attributes.roots = {ready, cluster};
    const std::map<std::string, std::set<std::string>> signs = {
        {"memory", {"ecc"}}, {"network", {"ib"}}, {"cpu", {"freq"}}, {"node", {"bios", "fan"}}, {"scheduler", {"sched"}}};
    for (const auto& [name, covered] : signs) attributes.fwds[name]->signs = covered;
    testing::AddCatalog(attributes, "cluster", dir_.path().string() + "/", "messages.xml");

    config->observation_ids = {{"mem-ecc", {"ecc"}}, {"ib-down", {"ib"}}, {"cpu-freq", {"freq"}},
                               {"bios", {"bios"}},   {"fan", {"fan"}},    {"gpu-run", {"sched"}},
                               {"mount", {"fan"}}};
    config->diagnosis_ids = {{"diag-dimm", {"mem-ecc"}}};
    config->category_map = {{"cpu-freq", "PERFORMANCE"}, {"bios", "INFORMATIONAL"}, {"gpu-run", "ERROR"}};
    config->message_tables = {{"mount", {{"Path", "mount-path"}, {"Use", "mount-use"}}}};

    for (int i = 1; i <= 8; ++i) config->nodes.push_back({"compute", "c0" + std::to_string(i)});
    for (int i = 1; i <= 4; ++i) config->nodes.push_back({"gpu", "g" + std::to_string(i)});
    config->nodes.push_back({"", "login1"});

    const std::vector<std::string> compute = {"c01", "c02", "c03", "c04", "c05", "c06", "c07", "c08"};
    const Issue issues[] = {
        {0, "diag-dimm", 85, {"c03", "c04"}, {}, "compute"},
        {1, "mem-ecc", 80, {"c03"}, {"c03", "120"}, "compute"},
        {1, "mem-ecc", 80, {"c04"}, {"c04", "120"}, "compute"},
        {1, "ib-down", 90, {"g2"}, {"mlx5_0"}, "gpu"},
        {1, "cpu-freq", 40, compute, {"12"}, "compute"},
        {1, "bios", 10, {"c01", "c02", "login1"}, {"2.1.7"}, "compute"},
        {1, "fan", 30, {"c05"}, {}, "compute", true},
        {1, "mount#scratch", 60, {"g1", "g3"}, {"/scratch", "97"}, "gpu"},
        {1, "mount#home", 60, {"g4"}, {"/home", "91"}, "gpu"},
        {2, "gpu-run", 50, {"g1"}, {"no device found"}, "gpu"},
    };
    for (const auto& issue : issues) {
      auto record = std::make_shared<analysis::AnalysisOutput>();
      record->id = issue.id;
      record->severity = issue.severity;
      record->nodes = issue.nodes;
      for (const auto& arg : issue.args) record->message_args.push_back(arg);
      record->subcategory = issue.group;
      record->suppressed = issue.suppressed;
      if (std::string(issue.id) == "mem-ecc" || std::string(issue.id) == "ib-down") {
        record->remedy_id = std::string(issue.id) + "-fix";
      }
      config->issue_lists[issue.list].push_back(record);
      config->issue_lists[Config::ISSUES].push_back(record);
    }

    if (node_groups) {
      auto group = [&](const std::string& name, bool automatic, std::set<std::string> nodes) {
        auto definition = std::make_shared<ClusterDefinition>();
        definition->name = name;
        definition->automatic = automatic;
        definition->node_names = std::move(nodes);
        definition->root_fwd_names = {"cluster", "hpc-ready"};
        config->node_groups[name] = definition;
        return definition;
      };
      group("compute", false, {compute.begin(), compute.end()})->test_exclusions = {{"cluster", {"network"}}};
      group("gpu", false, {"g1", "g2", "g3", "g4"});
      group("All", true, {"c01", "g1", "login1"});
      group("rest", true, {"login1"})->excluded_groups = {"compute", "gpu"};
      config->node_groups_file = "/etc/qorv/groups.xml";
    } else {
      config->node_groups["default-subcluster"] = std::make_shared<ClusterDefinition>();
      config->node_groups["default-subcluster"]->name = "default-subcluster";
    }

    PostprocessorExtensionData data;
    IssueProcessor::ProcessIssues(config, data);
    EXPECT_EQ(UtilityFunctions().fillOutputData(*config, data), 0);
    return data;
  }

  // Every section of the toolkit, in the order a full report uses.
  static std::string Report(const PostprocessorExtensionData& data, bool long_format) {
    CategoryMap map({"FUNCTIONALITY", "PERFORMANCE", "ERROR", "INFORMATIONAL"}, long_format);
    map.PopulateSubclusters(data);
    map.PopulateIssues(data);
    CategoryPrinting printer(&map, data, long_format);
    return Printed([&] {
      UtilityFunctions utility;
      utility.Summarize(data);
      utility.print_validation(data);
      printer.PrintSummary();
      printer.PrintValidation();
      printer.PrintNodes();
      SubclusterPrinting().PrintNodeGroups(data);
      printer.PrintCategories();
      printer.PrintCategory("INFORMATIONAL");
      printer.PrintCategory("ERROR");
      utility.PrintFWDTree(data);
      utility.PrintEnd(data);
    });
  }

  // The suppression note names the configuration beside the running
  // program, which differs between build trees.
  static void Compare(const std::string& name, std::string report) {
    const std::string config = str::wordexp(fs::abspath(str::dirname(fs::selfpath())) + "/../..//etc/qorv.xml");
    const std::size_t at = report.find(config);
    if (at != std::string::npos) report.replace(at, config.size(), "<install>/etc/qorv.xml");
    const std::string path = std::string(QORV_SOURCE_DIR) + "/tests/report/golden/" + name;
    if (std::getenv("QORV_UPDATE_GOLDEN") != nullptr) {
      std::ofstream(path, std::ios::binary) << report;
      return;
    }
    EXPECT_EQ(report, testing::ReadFile(path)) << "differs from " << path;
  }

  testing::TempDir dir_;
};

TEST_F(GoldenReportTest, DefaultGroupShortFormAt80) {
  auto data = Run(false);
  Compare("default_group_80.txt", Report(data, false));
}

TEST_F(GoldenReportTest, NodeGroupsLongFormAt200) {
  auto data = Run(true);
  data.width = 200;
  Compare("node_groups_long_200.txt", Report(data, true));
}

TEST_F(GoldenReportTest, NodeGroupsAt36) {
  auto data = Run(true);
  data.width = 36;
  const std::string report = Report(data, false);
  testing::ExpectFits(report, 36);
  Compare("node_groups_36.txt", report);

  // Every block but the drawn trees, which cannot break, fits any width.
  for (const int width : {1, 10000}) {
    data.width = width;
    const std::string any_width = Report(data, false);
    const std::size_t tree = any_width.find("\nFramework");
    const std::size_t end = any_width.rfind("\nQuorvane");
    ASSERT_NE(tree, std::string::npos);
    ASSERT_NE(end, std::string::npos);
    testing::ExpectFits(any_width.substr(0, tree) + any_width.substr(end), width);
  }
}

}  // namespace
}  // namespace qorv::postprocessor
