// Test support: a hand-built run of a small cluster, as the host would hand
// it to the postprocessor. compute c01-c08, gpu g1-g4 and login1 in the
// default group; definitions hpc-ready (a solution validation) -> cluster ->
// {node, network}, {scheduler} and node -> {cpu, memory}; diagnoses with
// their triggering observations, a table message, a suppressed record and
// a test that could not run. Its messages come from one catalogue file.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "postprocessor/host/config.h"
#include "tests/intake/catalog_fixture.h"
#include "tests/report/report_fixture.h"

namespace qorv::testing {

inline const char* const kHandBuiltMessages[][2] = {
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

struct HandBuiltIssue {
  int list;  // 0 diagnoses, 1 observations, 2 runtime problems
  const char* id;
  int severity;
  std::vector<std::string> nodes;
  std::vector<std::string> args;
  const char* group;
  bool suppressed = false;
};

// Writes the catalogue into dir and returns the run. node_groups false
// defines only the default group, so subclusters come from the nodes.
inline std::shared_ptr<Config> HandBuiltRun(const TempDir& dir, bool node_groups) {
  std::map<std::string, std::string> messages;
  for (const auto& message : kHandBuiltMessages) messages[message[0]] = message[1];
  dir.Write("messages.xml", CatalogXml(messages));

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
  AddCatalog(attributes, "cluster", dir.path().string() + "/", "messages.xml");

  config->observation_ids = {{"mem-ecc", {"ecc"}}, {"ib-down", {"ib"}},    {"cpu-freq", {"freq"}}, {"bios", {"bios"}},
                             {"fan", {"fan"}},     {"gpu-run", {"sched"}}, {"mount", {"fan"}}};
  config->diagnosis_ids = {{"diag-dimm", {"mem-ecc"}}};
  config->category_map = {{"cpu-freq", "PERFORMANCE"}, {"bios", "INFORMATIONAL"}, {"gpu-run", "ERROR"}};
  config->message_tables = {{"mount", {{"Path", "mount-path"}, {"Use", "mount-use"}}}};

  for (int i = 1; i <= 8; ++i) config->nodes.push_back({"compute", "c0" + std::to_string(i)});
  for (int i = 1; i <= 4; ++i) config->nodes.push_back({"gpu", "g" + std::to_string(i)});
  config->nodes.push_back({"", "login1"});

  const std::vector<std::string> compute = {"c01", "c02", "c03", "c04", "c05", "c06", "c07", "c08"};
  const HandBuiltIssue issues[] = {
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

  return config;
}

}  // namespace qorv::testing
