// Composing the full category report (summary, node counts, categories with
// every issue, node groups, tree, closing block) for large clusters: n
// collapsed issues over n / 10 nodes in 16 subclusters, each issue on one to
// eight nodes of its subcluster. The output log writes into a null stream,
// so the figures are the printers' own cost, without the disk.
#include <benchmark/benchmark.h>

#include <ostream>
#include <random>
#include <streambuf>
#include <string>
#include <vector>

#include "bench/cluster_records.h"
#include "log/output_log.h"
#include "postprocessor/collapse/category_map.h"
#include "postprocessor/report/category_printing.h"
#include "postprocessor/report/subcluster_printing.h"

namespace qorv::bench {
namespace {

using postprocessor::CategoryMap;
using postprocessor::CategoryPrinting;
using postprocessor::CollapsedAnalysisOutput;
using postprocessor::PostprocessorExtensionData;

class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
  std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

struct Report {
  PostprocessorExtensionData data;
  CategoryMap map{{"FUNCTIONALITY", "PERFORMANCE", "ERROR", "INFORMATIONAL"}};
};

void Build(Report& report, std::size_t issues) {
  constexpr std::size_t kSubclusters = 16;
  const std::size_t nodes = issues / 10;
  std::mt19937_64 rng(42);
  auto& data = report.data;
  data.nodes = std::make_shared<std::vector<Node>>();
  data.include_nodes = std::make_shared<std::vector<std::string>>();
  data.default_subcluster_only = true;
  for (unsigned long key : {0UL, 3UL, 16UL, 19UL}) data.type_counts[postprocessor::IssueKey(key)] = 0;
  std::vector<std::vector<std::string>> members(kSubclusters);
  for (std::size_t i = 0; i < nodes; ++i) {
    const std::string group = "sc" + std::to_string(i % kSubclusters);
    data.nodes->push_back({group, NodeName(i)});
    members[i % kSubclusters].push_back(NodeName(i));
    report.map.subcluster_map[group].push_back(NodeName(i));
  }
  const char* categories[] = {"FUNCTIONALITY", "FUNCTIONALITY", "PERFORMANCE", "ERROR", "INFORMATIONAL"};
  for (std::size_t i = 0; i < issues; ++i) {
    const std::size_t subcluster = rng() % kSubclusters;
    auto record = std::make_shared<analysis::AnalysisOutput>();
    record->id = CheckId(i);
    record->message = "Check " + record->id + " found a problem that needs the administrator's attention.";
    record->category = categories[rng() % 5];
    record->subcategory = "sc" + std::to_string(subcluster);
    const std::size_t count = 1 + rng() % 8;
    for (std::size_t n = 0; n < count; ++n) {
      record->nodes.push_back(members[subcluster][rng() % members[subcluster].size()]);
    }
    auto issue = std::make_shared<CollapsedAnalysisOutput>(postprocessor::COLLAPSED);
    issue->append(record);
    auto& slot = report.map.issue_map[{record->category, record->subcategory}];
    if (!slot) slot = std::make_shared<CategoryMap::IssueVector>();
    slot->push_back(issue);
  }
}

void BM_ComposeFullReport(benchmark::State& state) {
  Report report;
  Build(report, static_cast<std::size_t>(state.range(0)));
  NullBuffer buffer;
  std::ostream null(&buffer);
  log::OutputLog::createInstance();
  log::OutputLog::singleton_obj->streams = {{&null, false}};
  for (auto _ : state) {
    postprocessor::UtilityFunctions utility;
    CategoryPrinting printer(&report.map, report.data);
    utility.Summarize(report.data);
    printer.PrintSummary();
    printer.PrintNodes();
    printer.PrintCategories();
    printer.PrintCategory("INFORMATIONAL");
    printer.PrintCategory("ERROR");
    postprocessor::SubclusterPrinting().PrintNodeGroups(report.data);
    utility.PrintFWDTree(report.data);
    utility.PrintEnd(report.data);
  }
  log::OutputLog::singleton_obj->streams.clear();
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ComposeFullReport)->Arg(12500)->Arg(25000)->Arg(50000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qorv::bench
