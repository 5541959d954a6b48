// Writes the run file (docs/run-file.md) of a large synthetic cluster, for
// measuring qorv-postprocess end to end:
//
//   generate_cluster [--nodes N] [--seed S] [--issue-share F]
//                    [--diagnosis-share D] [--catalogs DIR] [--output FILE]
//
// N nodes (default 100,000) in four node groups, a share F of them (default
// 0.1) with one to three observations each, four Framework Definitions with
// their signs, and the sign maps. Diagnoses: one uneven-memory diagnosis
// per node group with low-memory nodes, and a kernel-mismatch diagnosis on
// a share D (default 0.05) of the nodes with issues; each of the latter is
// linked to every slow-compute observation of the run, so D sets how much
// linking the run does. Every message
// id and argument list is one of the bundled catalogue's
// (examples/catalogs/cluster-health.xml, or the one in DIR); the generator
// translates a sample of each through that catalogue first and refuses to
// write a file whose messages would show unfilled placeholders. The same
// options and seed always give the same file.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "bench/issue_spread.h"
#include "postprocessor/intake/message_translator.h"

namespace {

using nlohmann::json;

struct Options {
  std::size_t nodes = 100000;
  bool nodes_given = false;
  std::size_t records = 0;   // 0: the per-node cluster; else the records mode
  std::size_t distinct = 0;  // distinct issues of the records mode; 0: about records / 10.4
  std::uint64_t seed = 1;
  double issue_share = 0.1;
  double diagnosis_share = 0.05;
  std::string catalogs = QORV_BUNDLED_CATALOGS;
  std::string output;  // empty: standard output
};

// The generator's random source: the engine's output is fixed by the
// standard, and draws use plain arithmetic rather than the distributions,
// whose results differ between standard libraries.
class Random {
 public:
  explicit Random(std::uint64_t seed) : engine_(seed) {}
  std::uint64_t Below(std::uint64_t bound) { return engine_() % bound; }
  std::int64_t Between(std::int64_t low, std::int64_t high) {
    return low + static_cast<std::int64_t>(Below(static_cast<std::uint64_t>(high - low + 1)));
  }
  // A value with one decimal in [low, high].
  double Tenths(int low, int high) { return static_cast<double>(Between(low * 10, high * 10)) / 10.0; }
  bool Chance(double share) { return static_cast<double>(Below(1000000)) < share * 1000000.0; }

 private:
  std::mt19937_64 engine_;
};

struct Group {
  std::string key;      // "" for the default group
  std::string display;  // as messages name it
  const char* format;   // node name from its number in the group
};

struct Node {
  std::string name;
  std::size_t group;
};

// What the host's checks report per node. The catalogue's argument order
// and count are kept in MakeArgs.
enum class Check {
  kMemoryLow,
  kSwapUsed,
  kDgemmSlow,
  kStreamSlow,
  kCpuHot,
  kLinkDown,
  kLinkSpeed,
  kClockOffset,
  kHostUnreachable,
  kMountMissing,
  kEnvTemplate,
};

struct CheckInfo {
  Check check;
  const char* id;
  int severity;
  int weight;  // relative frequency among the issues of a node
  std::vector<std::string> signs;
};

const std::vector<CheckInfo>& Checks() {
  static const std::vector<CheckInfo> checks = {
      {Check::kMemoryLow, "qorv-memory-low", 80, 20, {"free-memory"}},
      {Check::kSwapUsed, "qorv-swap-used", 40, 10, {"swap-use"}},
      {Check::kDgemmSlow, "qorv-dgemm-slow", 40, 15, {"dgemm-rate"}},
      {Check::kStreamSlow, "qorv-stream-slow", 30, 10, {"stream-bandwidth"}},
      {Check::kCpuHot, "qorv-cpu-hot", 75, 8, {"cpu-temperature"}},
      {Check::kLinkDown, "qorv-link-down", 90, 6, {"fabric-link"}},
      {Check::kLinkSpeed, "qorv-link-speed", 50, 8, {"fabric-link", "fabric-speed"}},
      {Check::kClockOffset, "qorv-clock-offset", 10, 12, {"clock-offset"}},
      {Check::kHostUnreachable, "qorv-host-unreachable", 100, 3, {"reachability"}},
      {Check::kMountMissing, "qorv-mount-missing", 60, 5, {"mounts"}},
      {Check::kEnvTemplate, "qorv-env-template", 5, 3, {"environment"}},
  };
  return checks;
}

const char kMemoryUneven[] = "qorv-memory-uneven";
const char kKernelMismatch[] = "qorv-kernel-mismatch";
const char kMemoryRemedy[] = "qorv-memory-low-remedy";
const char kDgemmRemedy[] = "qorv-dgemm-slow-remedy";

// One issue record with the catalogue's arguments for check on node.
json MakeIssue(const CheckInfo& info, const Node& node, const Group& group, Random& random) {
  json issue = {{"id", info.id}, {"severity", info.severity}, {"nodes", {node.name}}};
  json args;
  switch (info.check) {
    case Check::kMemoryLow: {
      const auto free = random.Between(900, 3900);
      args = {node.name, free, 4096};
      issue["remedy_id"] = kMemoryRemedy;
      issue["remedy_args"] = {node.name, free};
      break;
    }
    case Check::kSwapUsed: args = {node.name, random.Between(5, 60)}; break;
    case Check::kDgemmSlow:
      issue["id"] = std::string(info.id) + "#socket" + std::to_string(random.Below(2));
      args = {node.name, random.Tenths(400, 900), random.Between(5, 40), group.display};
      issue["remedy_id"] = kDgemmRemedy;
      issue["remedy_args"] = {node.name};
      break;
    case Check::kStreamSlow: args = {node.name, random.Tenths(90, 180), 205.5}; break;
    case Check::kCpuHot: {
      const auto temperature = random.Between(91, 105);
      args = {node.name, temperature, temperature - 90};
      break;
    }
    case Check::kLinkDown: args = {node.name, "mlx5_" + std::to_string(random.Below(2)) + "/1"}; break;
    case Check::kLinkSpeed: args = {node.name, "mlx5_" + std::to_string(random.Below(2)) + "/1", 100, 200}; break;
    case Check::kClockOffset: args = {node.name, random.Between(2, 900)}; break;
    case Check::kHostUnreachable: args = {node.name, 30}; break;
    case Check::kMountMissing: {
      static const char* const mounts[] = {"/scratch", "/home", "/apps", "/projects"};
      args = {node.name, mounts[random.Below(4)]};
      break;
    }
    case Check::kEnvTemplate: args = {node.name}; break;
  }
  issue["args"] = args;
  return issue;
}

json MemoryUneven(const Group& group, std::size_t group_size, const std::vector<std::string>& low_nodes) {
  return {{"id", kMemoryUneven},
          {"severity", 50},
          {"nodes", low_nodes},
          {"args", {group.display, group_size - low_nodes.size(), 256, low_nodes.size(), 192}}};
}

json KernelMismatch(const Node& node) {
  return {{"id", kKernelMismatch},
          {"severity", 60},
          {"nodes", {node.name}},
          {"args", {node.name, "6.1.0-13-amd64", "6.1.0-18-amd64"}}};
}

qorv::MessageArgs ToArgs(const json& values) {
  qorv::MessageArgs args;
  for (const auto& value : values) {
    if (value.is_string()) {
      args.emplace_back(value.get<std::string>());
    } else if (value.is_number_float()) {
      args.emplace_back(value.get<double>());
    } else {
      args.emplace_back(value.get<std::int64_t>());
    }
  }
  return args;
}

// Throws when the catalogue lacks id or its text names an argument that
// args does not give.
void CheckAgainstCatalog(const std::string& id, const json& args) {
  const std::string text = qorv::postprocessor::MessageTranslator::Translate(id, ToArgs(args));
  if (text == id) throw std::runtime_error("the catalogue has no message " + id);
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] == '{' && std::isdigit(static_cast<unsigned char>(text[i + 1]))) {
      throw std::runtime_error("message " + id + " takes more arguments than the generator gives: " + text);
    }
  }
}

// Loads the catalogue and translates one sample of every message the file
// will hold.
void VerifyCatalog(const Options& options, const std::vector<Group>& groups) {
  auto fwds = std::make_shared<qorv::FWDAttributes>();
  auto fwd = std::make_shared<qorv::Fwd>();
  fwd->name = "catalogue-check";
  fwd->catalog_files.push_back({{"cluster-health.xml"}, options.catalogs});
  fwds->fwds[fwd->name] = fwd;
  qorv::postprocessor::MessageTranslator::LoadCatalogs(fwds);

  Random random(0);
  const Node node{"cn000001", 0};
  for (const auto& info : Checks()) {
    const json issue = MakeIssue(info, node, groups[0], random);
    CheckAgainstCatalog(issue["id"].get<std::string>(), issue["args"]);
    if (issue.contains("remedy_id")) CheckAgainstCatalog(issue["remedy_id"], issue["remedy_args"]);
  }
  for (const json& issue : {MemoryUneven(groups[0], 10, {"cn000001"}), KernelMismatch(node)}) {
    CheckAgainstCatalog(issue["id"], issue["args"]);
  }
}

std::vector<Node> MakeNodes(std::size_t count, const std::vector<Group>& groups) {
  // Login nodes, then GPU (10%), large-memory (5%) and the compute nodes.
  const std::size_t login = count < 2 ? 0 : std::max<std::size_t>(1, count / 5000);
  const std::size_t gpu = count / 10;
  const std::size_t bigmem = count / 20;
  const std::size_t sizes[] = {count - login - gpu - bigmem, gpu, bigmem, login};
  std::vector<Node> nodes;
  nodes.reserve(count);
  char name[64];
  for (std::size_t g = 0; g < groups.size(); ++g) {
    for (std::size_t i = 1; i <= sizes[g]; ++i) {
      std::snprintf(name, sizeof name, groups[g].format, i);
      nodes.push_back({name, g});
    }
  }
  return nodes;
}

const CheckInfo& PickCheck(Random& random) {
  int total = 0;
  for (const auto& info : Checks()) total += info.weight;
  auto draw = static_cast<int>(random.Below(static_cast<std::uint64_t>(total)));
  for (const auto& info : Checks()) {
    if (draw < info.weight) return info;
    draw -= info.weight;
  }
  return Checks().back();
}

// The records mode: options.records raw records, one node each, over
// options.nodes nodes and options.distinct distinct issues, spread as
// IssueSpread says. An issue's text names no node, so its records collapse
// into one issue; each issue sits on a run of consecutive nodes from a
// random start, and the records are written node by node, as a host
// collects them.

// Issue number k of the records mode: a catalogue message whose node
// argument is the word "node" and whose other arguments make its text
// unique.
json SpreadIssue(std::size_t k) {
  const auto& checks = Checks();
  const CheckInfo& info = checks[k % checks.size()];
  const auto q = static_cast<std::int64_t>(k / checks.size()) + 1;
  static const char* const mounts[] = {"/scratch", "/home", "/apps", "/projects"};
  json args;
  switch (info.check) {
    case Check::kMemoryLow: args = {"node", q, 4096}; break;
    case Check::kSwapUsed: args = {"node", q}; break;
    case Check::kDgemmSlow: args = {"node", 400.5, q, "default"}; break;
    case Check::kStreamSlow: args = {"node", static_cast<double>(q) / 10.0, 205.5}; break;
    case Check::kCpuHot: args = {"node", 90 + q, q}; break;
    case Check::kLinkDown: args = {"node", "mlx5_" + std::to_string(q) + "/1"}; break;
    case Check::kLinkSpeed: args = {"node", "mlx5_" + std::to_string(q) + "/1", 100, 200}; break;
    case Check::kClockOffset: args = {"node", q}; break;
    case Check::kHostUnreachable: args = {"node", q}; break;
    case Check::kMountMissing: args = {"node", std::string(mounts[q % 4]) + "/p" + std::to_string(q)}; break;
    case Check::kEnvTemplate: args = {"node " + std::to_string(q)}; break;
  }
  return {{"id", info.id}, {"severity", info.severity}, {"args", args}};
}

void GenerateRecords(const Options& options, const std::vector<Group>& groups, std::ostream& out);
void WriteRun(const Options& options, const std::vector<Group>& groups, const std::vector<Node>& nodes,
              const std::vector<json>& diagnoses, const std::vector<json>& observations, std::ostream& out);

json FrameworkDefinition(const std::string& name, const std::vector<std::string>& signs, const Options& options) {
  return {{"name", name},
          {"path", "/etc/qorv/fwd/" + name + ".xml"},
          {"signs", signs},
          {"catalogs", {{{"directory", options.catalogs}, {"files", {"cluster-health.xml"}}}}}};
}

// Writes "key": [ ... ] of the items and then the more items, with one
// element a line, so large files stay readable and diffable.
void WriteArray(std::ostream& out, const char* key, const std::vector<json>& items, bool last,
                const std::vector<json>& more = {}) {
  out << "  " << json(key).dump() << ": [";
  bool first = true;
  for (const auto* list : {&items, &more}) {
    for (const auto& item : *list) {
      out << (first ? "\n    " : ",\n    ") << item.dump();
      first = false;
    }
  }
  out << (first ? "]" : "\n  ]") << (last ? "\n" : ",\n");
}

void WriteValue(std::ostream& out, const char* key, const json& value) {
  out << "  " << json(key).dump() << ": " << value.dump() << ",\n";
}

void Generate(const Options& options, std::ostream& out) {
  const std::vector<Group> groups = {{"", "default", "cn%06zu"},
                                     {"gpu", "gpu", "gpu%05zu-ib"},
                                     {"bigmem", "bigmem", "bigmem%04zu"},
                                     {"login", "login", "login%02zu"}};
  VerifyCatalog(options, groups);
  if (options.records > 0) return GenerateRecords(options, groups, out);

  Random random(options.seed);
  const std::vector<Node> nodes = MakeNodes(options.nodes, groups);
  std::vector<std::size_t> group_sizes(groups.size());
  for (const auto& node : nodes) ++group_sizes[node.group];

  std::vector<json> observations;
  std::vector<json> diagnoses;
  std::vector<std::vector<std::string>> low_memory(groups.size());
  for (const auto& node : nodes) {
    if (!random.Chance(options.issue_share)) continue;
    const auto count = random.Between(1, 3);
    std::vector<const CheckInfo*> found;
    for (std::int64_t i = 0; i < count; ++i) {
      const CheckInfo& info = PickCheck(random);
      if (std::find(found.begin(), found.end(), &info) != found.end()) continue;
      found.push_back(&info);
      observations.push_back(MakeIssue(info, node, groups[node.group], random));
      if (info.check == Check::kMemoryLow) low_memory[node.group].push_back(node.name);
    }
    // A node that runs slow is sometimes found on an old kernel.
    if (random.Chance(options.diagnosis_share)) diagnoses.push_back(KernelMismatch(node));
  }
  for (std::size_t g = 0; g < groups.size(); ++g) {
    if (!low_memory[g].empty() && low_memory[g].size() < group_sizes[g])
      diagnoses.push_back(MemoryUneven(groups[g], group_sizes[g], low_memory[g]));
  }

  WriteRun(options, groups, nodes, diagnoses, observations, out);
}

void GenerateRecords(const Options& options, const std::vector<Group>& groups, std::ostream& out) {
  Random random(options.seed);
  const std::vector<Node> nodes = MakeNodes(options.nodes, groups);
  const std::size_t distinct =
      options.distinct > 0 ? options.distinct : std::max<std::size_t>(1, options.records * 10 / 104);
  const std::vector<std::size_t> counts = qorv::tools::IssueSpread(options.records, nodes.size(), distinct);

  // Which issues each node has, in issue order.
  std::vector<std::vector<std::uint32_t>> on_node(nodes.size());
  for (std::size_t k = 0; k < distinct; ++k) {
    const std::size_t start = random.Below(nodes.size());
    for (std::size_t j = 0; j < counts[k]; ++j)
      on_node[(start + j) % nodes.size()].push_back(static_cast<std::uint32_t>(k));
  }

  std::vector<json> issues(distinct);
  for (std::size_t k = 0; k < distinct; ++k) issues[k] = SpreadIssue(k);
  for (const auto& info : Checks()) {
    const json sample = SpreadIssue(static_cast<std::size_t>(&info - Checks().data()));
    CheckAgainstCatalog(sample["id"], sample["args"]);
  }

  std::vector<json> observations;
  observations.reserve(options.records);
  std::vector<std::vector<std::string>> low_memory(groups.size());
  for (std::size_t n = 0; n < nodes.size(); ++n) {
    bool low = false;
    for (const std::uint32_t k : on_node[n]) {
      json record = issues[k];
      record["nodes"] = {nodes[n].name};
      if (Checks()[k % Checks().size()].check == Check::kMemoryLow) {
        record["remedy_id"] = kMemoryRemedy;
        record["remedy_args"] = {nodes[n].name, record["args"][1]};
        low = true;
      }
      observations.push_back(std::move(record));
    }
    if (low) low_memory[nodes[n].group].push_back(nodes[n].name);
  }
  std::vector<std::size_t> group_sizes(groups.size());
  for (const auto& node : nodes) ++group_sizes[node.group];
  std::vector<json> diagnoses;
  for (std::size_t g = 0; g < groups.size(); ++g) {
    if (!low_memory[g].empty() && low_memory[g].size() < group_sizes[g])
      diagnoses.push_back(MemoryUneven(groups[g], group_sizes[g], low_memory[g]));
  }
  WriteRun(options, groups, nodes, diagnoses, observations, out);
}

// Writes the run file of nodes with the given issues; the category
// report's list holds the diagnoses and then the observations.
void WriteRun(const Options& options, const std::vector<Group>& groups, const std::vector<Node>& nodes,
              const std::vector<json>& diagnoses, const std::vector<json>& observations, std::ostream& out) {
  std::vector<json> node_items;
  node_items.reserve(nodes.size());
  for (const auto& node : nodes) {
    json item = {{"name", node.name}};
    if (!groups[node.group].key.empty()) item["group"] = groups[node.group].key;
    node_items.push_back(std::move(item));
  }

  std::vector<json> fwds = {
      FrameworkDefinition("health-basic", {"free-memory", "swap-use", "clock-offset", "reachability"}, options),
      FrameworkDefinition("health-compute", {"dgemm-rate", "stream-bandwidth", "cpu-temperature"}, options),
      FrameworkDefinition("health-network", {"fabric-link", "fabric-speed"}, options),
      FrameworkDefinition("health-software", {"mounts", "environment"}, options)};

  json observation_ids = json::object();
  for (const auto& info : Checks()) observation_ids[info.id] = info.signs;
  const json diagnosis_ids = {{kMemoryUneven, {"qorv-memory-low", "qorv-swap-used"}},
                              {kKernelMismatch, {"qorv-dgemm-slow", "qorv-stream-slow"}}};
  const json category_map = {{"qorv-memory-low", "PERFORMANCE"},  {"qorv-dgemm-slow", "PERFORMANCE"},
                             {"qorv-stream-slow", "PERFORMANCE"}, {"qorv-link-down", "NETWORK"},
                             {"qorv-link-speed", "NETWORK"},      {"qorv-kernel-mismatch", "SOFTWARE"}};

  out << "{\n";
  WriteValue(out, "command_line",
             "qorv --fwd health-basic,health-compute,health-network,health-software --nodefile nodes.txt");
  WriteValue(out, "fail_level", -1);
  WriteArray(out, "nodes", node_items, false);
  WriteArray(out, "fwds", fwds, false);
  WriteValue(out, "observation_ids", observation_ids);
  WriteValue(out, "diagnosis_ids", diagnosis_ids);
  WriteValue(out, "category_map", category_map);
  WriteArray(out, "diagnoses", diagnoses, false);
  WriteArray(out, "observations", observations, false);
  WriteArray(out, "issues", diagnoses, true, observations);
  out << "}\n";
}

void PrintUsage(std::ostream& out, const char* program) {
  out << "usage: " << program
      << " [--nodes N] [--seed S] [--issue-share F] [--diagnosis-share D] [--catalogs DIR]"
         " [--output FILE]\n       "
      << program << " --records N [--nodes M] [--distinct K] [--seed S] [--catalogs DIR] [--output FILE]\n";
}

[[noreturn]] void Usage(const char* program, const std::string& problem) {
  std::cerr << program << ": " << problem << "\n";
  PrintUsage(std::cerr, program);
  std::exit(2);
}

Options Parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    if (flag == "-h" || flag == "--help") {
      PrintUsage(std::cout, argv[0]);
      std::exit(0);
    }
    if (i + 1 >= argc) Usage(argv[0], flag + " needs a value");
    const std::string value = argv[++i];
    try {
      std::size_t used = 0;
      if (flag == "--nodes") {
        options.nodes = std::stoul(value, &used);
        options.nodes_given = true;
      } else if (flag == "--records") {
        options.records = std::stoul(value, &used);
      } else if (flag == "--distinct") {
        options.distinct = std::stoul(value, &used);
      } else if (flag == "--seed") {
        options.seed = std::stoull(value, &used);
      } else if (flag == "--issue-share") {
        options.issue_share = std::stod(value, &used);
        if (options.issue_share < 0 || options.issue_share > 1) used = 0;
      } else if (flag == "--diagnosis-share") {
        options.diagnosis_share = std::stod(value, &used);
        if (options.diagnosis_share < 0 || options.diagnosis_share > 1) used = 0;
      } else if (flag == "--catalogs") {
        options.catalogs = value.empty() || value.back() == '/' ? value : value + "/";
        used = value.size();
      } else if (flag == "--output") {
        options.output = value;
        used = value.size();
      } else {
        Usage(argv[0], "unknown option " + flag);
      }
      if (used != value.size() || value.empty() || value[0] == '-') throw std::invalid_argument(value);
    } catch (const std::logic_error&) {
      Usage(argv[0], "bad value for " + flag + ": " + value);
    }
  }
  if (options.records > 0) {
    if (!options.nodes_given) options.nodes = std::max<std::size_t>(1, options.records / 104);
    if (options.nodes == 0) Usage(argv[0], "--records needs at least one node");
    if (options.distinct > options.records) Usage(argv[0], "--distinct exceeds --records");
    const std::size_t distinct = options.distinct > 0 ? options.distinct : options.records * 10 / 104;
    if (distinct > 0 && options.records / distinct >= options.nodes)
      Usage(argv[0], "--records does not fit on --nodes nodes with --distinct issues");
  }
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = Parse(argc, argv);
  try {
    if (options.output.empty()) {
      Generate(options, std::cout);
      return std::cout.flush() ? 0 : 1;
    }
    std::ofstream out(options.output);
    if (!out) throw std::runtime_error(options.output + ": cannot open for writing");
    Generate(options, out);
    out.close();
    if (!out) throw std::runtime_error(options.output + ": write failed");
    return 0;
  } catch (const std::exception& error) {
    std::cerr << argv[0] << ": " << error.what() << "\n";
    return 1;
  }
}
