// What the record types alone cost at a million records, whatever the code
// around them: the least work any run must do to hold a cluster's raw
// records as AnalysisOutput and their collapsed issues as
// CollapsedAnalysisOutput, and to write the result files.
//
// The workload has the shape of `generate_cluster --records N`: N one-node
// records over N / 104 nodes and about N / 10.4 distinct issues, issue r on
// about A / r consecutive nodes, records in node order as a host collects
// them. Each stage does only what the types oblige; nothing is compared,
// hashed, looked up or formatted, since the grouping is given:
//   records:   each record built where it is kept, with its id, its one
//              node, its arguments and its severity;
//   messages:  each record given its translated text;
//   walk:      the list in issue order, as sorting leaves it (a copy of
//              the pointers, not a sort);
//   collapses: the records appended to their collapsed issue, twice (the
//              severity collapse and the category report's map);
//   output:    every node name of both collapses' issues gathered once and
//              the result files' bytes written to a temporary file.
// The one timed iteration runs first in a fresh process, so the memory it
// touches is fresh, as in a run; the stages are reported as counters, in
// seconds.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/cluster_records.h"
#include "bench/issue_spread.h"
#include "postprocessor/collapse/collapsed_analysis_output.h"
#include "postprocessor/host/analysis_output.h"

namespace {

using qorv::MessageArgs;
using qorv::analysis::AnalysisOutput;
using qorv::bench::Format;
using qorv::postprocessor::CollapsedAnalysisOutput;

// Bytes of result files a default run writes at a million records.
constexpr std::size_t kOutputBytesPerRecord = 125;

struct Issue {
  std::string id;
  MessageArgs args;
  std::string text;
  int severity = 0;
};

struct Workload {
  std::vector<std::string> nodes;
  std::vector<Issue> issues;
  // (node, issue) of each record, in node order.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> records;
  // Record positions in issue order, then node order, and the number of
  // records of each issue along that walk.
  std::vector<std::uint32_t> walk;
  std::vector<std::size_t> group_sizes;
};

Workload Make(std::size_t count) {
  Workload work;
  const std::size_t node_count = std::max<std::size_t>(1, count / 104);
  const std::size_t distinct = std::max<std::size_t>(1, count * 10 / 104);
  for (std::size_t n = 0; n < node_count; ++n) work.nodes.push_back(Format("cn%06zu", n + 1));

  static const char* const ids[] = {"qorv-memory-low", "qorv-swap-used",   "qorv-dgemm-slow", "qorv-stream-slow",
                                    "qorv-cpu-hot",    "qorv-link-down",   "qorv-link-speed", "qorv-clock-offset",
                                    "qorv-mount-miss", "qorv-host-unreach"};
  static const int severities[] = {80, 40, 40, 40, 60, 100, 50, 10, 90, 100};
  for (std::size_t k = 0; k < distinct; ++k) {
    Issue issue;
    issue.id = ids[k % 10];
    issue.args = {"node", static_cast<std::int64_t>(k), 4096};
    issue.text = Format("Check found a problem on node: value %zu is out of the expected range for this node", k);
    issue.severity = severities[k % 10];
    work.issues.push_back(std::move(issue));
  }

  const std::vector<std::size_t> counts = qorv::tools::IssueSpread(count, node_count, distinct);

  std::mt19937_64 rng(1);
  std::vector<std::vector<std::uint32_t>> on_node(node_count);
  for (std::size_t r = 0; r < distinct; ++r) {
    const std::size_t start = rng() % node_count;
    for (std::size_t i = 0; i < counts[r]; ++i)
      on_node[(start + i) % node_count].push_back(static_cast<std::uint32_t>(r));
  }
  for (std::size_t n = 0; n < node_count; ++n) {
    for (std::uint32_t r : on_node[n]) work.records.emplace_back(static_cast<std::uint32_t>(n), r);
  }
  work.walk.resize(work.records.size());
  for (std::size_t i = 0; i < work.walk.size(); ++i) work.walk[i] = static_cast<std::uint32_t>(i);
  std::stable_sort(work.walk.begin(), work.walk.end(), [&work](std::uint32_t a, std::uint32_t b) {
    return work.records[a].second < work.records[b].second;
  });
  for (std::size_t i = 0; i < work.walk.size(); ++i) {
    const bool fresh = i == 0 || work.records[work.walk[i]].second != work.records[work.walk[i - 1]].second;
    if (fresh) work.group_sizes.push_back(0);
    ++work.group_sizes.back();
  }
  return work;
}

double Since(std::chrono::steady_clock::time_point& start) {
  const auto now = std::chrono::steady_clock::now();
  const double seconds = std::chrono::duration<double>(now - start).count();
  start = now;
  return seconds;
}

void BM_PrescribedTypesFloor(benchmark::State& state) {
  const Workload work = Make(static_cast<std::size_t>(state.range(0)));
  char path[] = "/tmp/qorv-floor-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) {
    state.SkipWithError("cannot create a temporary file");
    return;
  }
  unlink(path);

  // Kept past the timing: a run leaves its records and issues to the end.
  std::vector<std::shared_ptr<AnalysisOutput>> records;
  std::vector<std::shared_ptr<AnalysisOutput>> sorted;
  std::vector<std::vector<std::shared_ptr<CollapsedAnalysisOutput>>> collapses(2);
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    records.reserve(work.records.size());
    for (const auto& [node, issue] : work.records) {
      auto& record = *records.emplace_back(std::make_shared<AnalysisOutput>());
      record.id = work.issues[issue].id;
      record.nodes.push_back(work.nodes[node]);
      record.message_args = work.issues[issue].args;
      record.severity = work.issues[issue].severity;
    }
    state.counters["records"] = Since(start);

    for (std::size_t i = 0; i < records.size(); ++i) records[i]->message = work.issues[work.records[i].second].text;
    state.counters["messages"] = Since(start);

    sorted.reserve(records.size());
    for (std::uint32_t i : work.walk) sorted.push_back(records[i]);
    state.counters["walk"] = Since(start);

    for (auto& collapsed : collapses) {
      collapsed = qorv::bench::AppendGroups(sorted, work.group_sizes, qorv::postprocessor::OBSERVATION);
    }
    state.counters["collapses"] = Since(start);

    // The node names of every issue once, then as many more bytes from the
    // same buffer as the run's files hold.
    std::string buffer;
    buffer.reserve(std::size_t{1} << 20);
    std::size_t written = 0;
    const auto flush = [&] {
      if (write(fd, buffer.data(), buffer.size()) != static_cast<ssize_t>(buffer.size())) std::abort();
      written += buffer.size();
      buffer.clear();
    };
    for (const auto& collapsed : collapses) {
      for (const auto& issue : collapsed) {
        for (const auto& node : issue->nodes) {
          buffer += '"';
          buffer += node;
          buffer += "\", ";
          if (buffer.size() >= (std::size_t{1} << 20)) flush();
        }
      }
    }
    flush();
    const std::string filler(std::size_t{1} << 20, ' ');
    for (const std::size_t target = kOutputBytesPerRecord * records.size(); written < target;) {
      if (write(fd, filler.data(), filler.size()) != static_cast<ssize_t>(filler.size())) std::abort();
      written += filler.size();
    }
    state.counters["output"] = Since(start);
  }
  close(fd);
}

// One iteration, first in the process: its memory is fresh, as a run's is.
BENCHMARK(BM_PrescribedTypesFloor)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
