// The severity collapse on 100,000 to 1,000,000 records with 10% distinct
// issues, diagnoses and observations, and sign maps that make the linking
// run: UtilityFunctions::SortType alone, fillOutputData, which adds the
// Framework Definition verdicts, and the category maps the default reports
// build from its result.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "bench/cluster_records.h"
#include "postprocessor/intake/issue_processor.h"
#include "postprocessor/run_facts.h"
#include "postprocessor/utility_functions.h"

namespace {

using qorv::Config;
using qorv::bench::CollapseConfig;
using qorv::bench::CollapseShape;
using qorv::postprocessor::IdMap;
using qorv::postprocessor::IssueProcessor;
using qorv::postprocessor::PostprocessorExtensionData;
using qorv::postprocessor::RunFacts;
using qorv::postprocessor::UtilityFunctions;

// The workload of the last size asked for, sorted by the default criteria
// as the intake sorts it before the collapse. Building a million records takes
// longer than collapsing them, and Google Benchmark calls each function
// more than once per size.
const Config& Workload(std::size_t records) {
  static std::size_t size = 0;
  static std::shared_ptr<Config> config;
  if (!config || size != records) {
    config.reset();
    CollapseShape shape;
    shape.records = records;
    config = CollapseConfig(shape);
    // The collapse always meets the lists as the intake left them.
    IssueProcessor::SetUp(config);
    for (auto& list : config->issue_lists) IssueProcessor::SortIssues(list);
    size = records;
  }
  return *config;
}

void Report(benchmark::State& state, const Config& config) {
  state.SetComplexityN(state.range(0));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
  state.counters["diagnoses"] = static_cast<double>(config.issue_lists[Config::DIAGNOSES].size());
  state.counters["observations"] = static_cast<double>(config.issue_lists[Config::OBSERVATIONS].size());
}

// SortType reads the sign maps and definitions from the run data, which
// fillOutputData would have copied there first.
void BM_SortType(benchmark::State& state) {
  const Config& config = Workload(static_cast<std::size_t>(state.range(0)));
  PostprocessorExtensionData base;
  base.fwd_attributes = config.fwd_attributes;
  base.diagnosis_ids = std::make_shared<IdMap>(config.diagnosis_ids);
  base.observation_ids = std::make_shared<IdMap>(config.observation_ids);
  const UtilityFunctions utility;

  std::size_t collapsed = 0;
  for (auto _ : state) {
    std::optional<PostprocessorExtensionData> data(base);
    if (utility.SortType(config, *data) != 0) {
      state.SkipWithError("SortType failed");
      break;
    }
    state.PauseTiming();
    collapsed = 0;
    for (const auto& entry : *data->collapsed_by_type) collapsed += entry.second.size();
    data.reset();
    state.ResumeTiming();
  }
  state.counters["collapsed"] = static_cast<double>(collapsed);
  Report(state, config);
}

// The least the severity collapse does with the collapsed-issue type (see
// AppendGroups): each list's records appended to their issue, the grouping
// by id, severity and message worked out untimed, and the run's node names
// gathered. No counts, links or definitions.
void BM_SortTypeFloor(benchmark::State& state) {
  const Config& config = Workload(static_cast<std::size_t>(state.range(0)));
  const auto identity = [](const qorv::analysis::AnalysisOutput& record) {
    return record.id + '\n' + std::to_string(record.severity) + '\n' + record.message;
  };
  const auto diagnoses = qorv::bench::GroupedWalk(config.issue_lists[Config::DIAGNOSES], identity);
  const auto observations = qorv::bench::GroupedWalk(config.issue_lists[Config::OBSERVATIONS], identity);
  for (auto _ : state) {
    // Names are gathered unordered, as views into the issues' node sets,
    // and added to the sorted set once each.
    std::unordered_set<std::string_view> seen;
    std::vector<std::vector<std::shared_ptr<qorv::postprocessor::CollapsedAnalysisOutput>>> collapsed;
    for (const auto* walk : {&diagnoses, &observations}) {
      collapsed.push_back(qorv::bench::AppendGroups(walk->first, walk->second, qorv::postprocessor::OBSERVATION));
      for (const auto& issue : collapsed.back()) seen.insert(issue->nodes.begin(), issue->nodes.end());
    }
    std::vector<std::string_view> sorted(seen.begin(), seen.end());
    std::sort(sorted.begin(), sorted.end());
    auto names = std::make_shared<std::set<std::string>>();
    for (const std::string_view name : sorted) names->emplace_hint(names->end(), name);
    benchmark::DoNotOptimize(names.get());
    state.PauseTiming();
    collapsed.clear();
    names.reset();
    state.ResumeTiming();
  }
  Report(state, config);
}

void BM_FillOutputData(benchmark::State& state) {
  const Config& config = Workload(static_cast<std::size_t>(state.range(0)));
  const UtilityFunctions utility;
  for (auto _ : state) {
    std::optional<PostprocessorExtensionData> data(std::in_place);
    if (utility.fillOutputData(config, *data) != 0) {
      state.SkipWithError("fillOutputData failed");
      break;
    }
    state.PauseTiming();
    data.reset();
    state.ResumeTiming();
  }
  Report(state, config);
}

// The run's facts, which classify its issues once, with tables, in the map
// every default report reads. Timed from the run data fillOutputData leaves.
void BM_RunFacts(benchmark::State& state) {
  const Config& config = Workload(static_cast<std::size_t>(state.range(0)));
  // The category report's list: every record of the typed lists, sorted as
  // the intake sorts it.
  auto issues = std::make_shared<qorv::IssueList>();
  for (std::size_t list = 0; list < Config::ISSUES; ++list) {
    issues->insert(issues->end(), config.issue_lists[list].begin(), config.issue_lists[list].end());
  }
  IssueProcessor::SortIssues(*issues);
  for (auto _ : state) {
    state.PauseTiming();
    std::optional<PostprocessorExtensionData> data(std::in_place);
    if (UtilityFunctions().fillOutputData(config, *data) != 0) {
      state.SkipWithError("fillOutputData failed");
      break;
    }
    data->issues = issues;
    state.ResumeTiming();
    benchmark::DoNotOptimize(RunFacts(*data));
    state.PauseTiming();
    data.reset();
    state.ResumeTiming();
  }
  Report(state, config);
}

// 100k to 1M records, in milliseconds, with the growth fitted to N.
void Sizes(benchmark::internal::Benchmark* sizes) {
  sizes->Arg(100000)->Arg(200000)->Arg(400000)->Arg(1000000);
  sizes->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);
}

BENCHMARK(BM_SortType)->Apply(Sizes);
BENCHMARK(BM_SortTypeFloor)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillOutputData)->Apply(Sizes);
// Each iteration rebuilds the run data untimed, so few are taken.
BENCHMARK(BM_RunFacts)->Apply(Sizes)->Iterations(3);

}  // namespace
