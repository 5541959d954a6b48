// The issue intake at cluster scale: translating a million three-argument
// messages through a catalogue of a few hundred, and sorting 250,000 to
// 1,000,000 records by the default criteria.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "bench/cluster_records.h"
#include "postprocessor/intake/issue_processor.h"
#include "postprocessor/intake/message_translator.h"

namespace {

using qorv::IssueList;
using qorv::MessageArgs;
using qorv::postprocessor::IssueProcessor;
using qorv::postprocessor::MessageTranslator;

constexpr std::size_t kCatalogMessages = 300;

// Texts of the kind the checks use, with the three arguments in varying
// order and position; "{{" shows a literal brace.
std::string MessageText(std::size_t index) {
  const std::string check = std::to_string(index);
  switch (index % 6) {
    case 0: return "Node {0} reported {1} correctable errors in check " + check + "; rate {2} per hour.";
    case 1: return "Check " + check + " on {0}: {2} GB/s measured, {1} samples below the group median.";
    case 2: return "{0} took {2} s for {1} iterations of check " + check + ".";
    case 3: return "Counter {1} of {0} is at {2}% of its limit (check " + check + ").";
    case 4: return "Check " + check + " found {1} stale entries in {{cache}} on {0}, oldest {2} days.";
    default: return "  Sensor {1} on {0} reads {2}, outside the expected range of check " + check + ".  ";
  }
}

// Writes a catalogue of kCatalogMessages messages to a directory of its
// own and loads it; removes the directory when it goes.
class BenchCatalog {
 public:
  BenchCatalog()
      : directory_(std::filesystem::temp_directory_path() / ("qorv_intake_bench_" + std::to_string(::getpid()))) {
    std::filesystem::create_directories(directory_);
    std::ofstream out(directory_ / "bench-messages.xml");
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<message-catalog language=\"en\">\n";
    for (std::size_t i = 0; i < kCatalogMessages; ++i) {
      out << "  <message id=\"" << Id(i) << "\">" << MessageText(i) << "</message>\n";
    }
    out << "</message-catalog>\n";
    out.close();

    auto fwds = std::make_shared<qorv::FWDAttributes>();
    auto fwd = std::make_shared<qorv::Fwd>();
    fwd->name = "bench";
    fwd->catalog_files.push_back({{"bench-messages.xml"}, directory_.string() + "/"});
    fwds->fwds[fwd->name] = fwd;
    MessageTranslator::LoadCatalogs(fwds);
  }
  ~BenchCatalog() {
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }
  BenchCatalog(const BenchCatalog&) = delete;
  BenchCatalog& operator=(const BenchCatalog&) = delete;

  static std::string Id(std::size_t index) { return qorv::bench::CheckId(index); }

 private:
  std::filesystem::path directory_;
};

void BM_Translate(benchmark::State& state) {
  const BenchCatalog catalog;
  const std::size_t messages = static_cast<std::size_t>(state.range(0));

  // Inputs cycle through two pools of different sizes so that id and
  // arguments do not repeat in step; one id in eight carries a sub-id.
  std::mt19937_64 rng(7);
  std::vector<std::string> ids(1 << 16);
  for (auto& id : ids) {
    id = BenchCatalog::Id(rng() % kCatalogMessages);
    if (rng() % 8 == 0) id += "#socket" + std::to_string(rng() % 2);
  }
  std::vector<MessageArgs> args(4093);
  for (auto& list : args) {
    list = {qorv::bench::NodeName(rng() % 100000), static_cast<std::int64_t>(rng() % 5000),
            static_cast<double>(rng() % 100000) / 16.0};
  }

  if (MessageTranslator::Translate(ids[0], args[0]) == ids[0]) {
    state.SkipWithError("the benchmark catalogue did not load");
    return;
  }
  for (auto _ : state) {
    for (std::size_t i = 0; i < messages; ++i) {
      benchmark::DoNotOptimize(MessageTranslator::Translate(ids[i % ids.size()], args[i % args.size()]));
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
  // Seconds per message.
  state.counters["per_message"] = benchmark::Counter(
      static_cast<double>(messages), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Default criteria through SetUp, as a run without sort criteria and
// without Framework Definitions sets them: severity descending, id
// ascending, first node ascending.
void UseDefaultCriteria() {
  auto config = std::make_shared<qorv::Config>();
  IssueProcessor::SetUp(config);
}

void BM_SortIssues(benchmark::State& state) {
  UseDefaultCriteria();
  const IssueList unsorted = qorv::bench::SortRecords(static_cast<std::size_t>(state.range(0)), kCatalogMessages, 11);
  IssueList issues;
  for (auto _ : state) {
    state.PauseTiming();
    issues = unsorted;
    state.ResumeTiming();
    IssueProcessor::SortIssues(issues);
  }
  if (!std::is_sorted(issues.begin(), issues.end(), IssueProcessor::Compare)) state.SkipWithError("not sorted");
  state.SetComplexityN(state.range(0));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

BENCHMARK(BM_Translate)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortIssues)
    ->Arg(250000)
    ->Arg(500000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oNLogN);

}  // namespace
