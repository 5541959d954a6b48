// Collapser::Collapse with every comparison and tables on, over 100,000 to
// 1,000,000 records of which one in ten is a distinct issue, in two orders:
// as the issue intake leaves the list (severity descending, then id, then
// first node), and with each issue's records spread over the whole list.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench/cluster_records.h"
#include "postprocessor/collapse/collapser.h"
#include "postprocessor/intake/message_table.h"

namespace {

using qorv::analysis::AnalysisOutput;
using qorv::bench::Format;
using qorv::postprocessor::CollapsedAnalysisOutput;
using qorv::postprocessor::Collapser;
using qorv::postprocessor::MessageTable;

// Ten records per distinct issue, each from its own node, issue after issue
// (record i belongs to issue i modulo the number of issues). Every tenth
// issue is a table message whose records carry sub-ids and one of two
// argument sets.
std::shared_ptr<std::vector<std::shared_ptr<AnalysisOutput>>> Records(std::size_t count, bool intake_order) {
  const std::size_t distinct = std::max<std::size_t>(count / 10, 1);
  const char* categories[] = {"FUNCTIONALITY", "PERFORMANCE", "CONFIGURATION", "ERROR"};
  MessageTable::table_map.clear();
  auto records = std::make_shared<std::vector<std::shared_ptr<AnalysisOutput>>>();
  records->reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t issue = i % distinct;
    auto record = std::make_shared<AnalysisOutput>();
    const bool table = issue % 10 == 0;
    if (table) {
      const std::string id = Format("table-%zu", issue);
      MessageTable::table_map[id] = {{"Device", "cell-device"}, {"State", "cell-state"}};
      record->id = id + Format("#sub%zu", i % 3);
      record->message_args = {Format("dev%zu", i % 2), "degraded"};
    } else {
      record->id = Format("check-%zu", issue);
    }
    record->message = Format("Check %zu found a problem on this node", issue);
    if (issue % 2 == 0) record->secondary_message = Format("Detail %zu", issue);
    record->severity = static_cast<int>(issue % 3) * 40;
    record->suppressed = issue % 50 == 0;
    record->category = categories[issue % 4];
    record->subcategory = Format("rack%zu", issue % 8);
    record->nodes = {Format("node%06zu", i % 100000)};
    records->push_back(std::move(record));
  }
  if (intake_order) {
    std::sort(records->begin(), records->end(), [](const auto& a, const auto& b) {
      if (a->severity != b->severity) return a->severity > b->severity;
      if (a->id != b->id) return a->id < b->id;
      return a->nodes.front() < b->nodes.front();
    });
  }
  return records;
}

void Run(benchmark::State& state, bool intake_order) {
  const auto records = Records(static_cast<std::size_t>(state.range(0)), intake_order);
  Collapser collapser;
  collapser.compare_id = collapser.compare_severity = collapser.compare_message = collapser.compare_secondary = true;
  collapser.compare_suppressed = collapser.compare_category = collapser.compare_subcategory = true;
  collapser.use_tables = true;
  for (auto _ : state) {
    std::vector<std::shared_ptr<CollapsedAnalysisOutput>> out;
    collapser.Collapse(records, out);
    benchmark::DoNotOptimize(out.data());
    state.PauseTiming();
    out.clear();
    state.ResumeTiming();
  }
  state.SetComplexityN(state.range(0));
}

// The least any collapse of these records does with the collapsed-issue
// type (see AppendGroups), with the grouping worked out untimed; no table
// row is built.
void Floor(benchmark::State& state, bool intake_order) {
  const auto records = Records(static_cast<std::size_t>(state.range(0)), intake_order);
  const auto [walk, sizes] = qorv::bench::GroupedWalk(*records, [](const AnalysisOutput& record) {
    // Table records join by usable id.
    return record.id.substr(0, record.id.find('#')) + '\n' + record.message + '\n' + record.subcategory;
  });
  for (auto _ : state) {
    auto out = qorv::bench::AppendGroups(walk, sizes, qorv::postprocessor::COLLAPSED);
    benchmark::DoNotOptimize(out.data());
    state.PauseTiming();
    out.clear();
    state.ResumeTiming();
  }
}

void BM_CollapseIntakeOrder(benchmark::State& state) { Run(state, true); }
void BM_CollapseSpread(benchmark::State& state) { Run(state, false); }
void BM_CollapseFloorIntakeOrder(benchmark::State& state) { Floor(state, true); }
void BM_CollapseFloorSpread(benchmark::State& state) { Floor(state, false); }

// 100k to 1M records, with the growth fitted.
void Sizes(benchmark::internal::Benchmark* family) {
  for (const int records : {100000, 200000, 400000, 1000000}) family->Arg(records);
  family->Unit(benchmark::kMillisecond)->Complexity();
}

BENCHMARK(BM_CollapseIntakeOrder)->Apply(Sizes);
BENCHMARK(BM_CollapseSpread)->Apply(Sizes);
BENCHMARK(BM_CollapseFloorIntakeOrder)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CollapseFloorSpread)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
