// Reading a run file: generate_cluster's large-cluster files (each record
// is in a typed list and again in the category report's list, as the host
// writes them) read into the Config the postprocessor starts from.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "tools/run_file.h"

namespace {

// The run file of `records` records, written by generate_cluster once per
// size and process.
const std::string& RunFile(std::size_t records) {
  static std::map<std::size_t, std::string> files;
  auto& path = files[records];
  if (path.empty()) {
    const auto directory = std::filesystem::temp_directory_path();
    path = (directory / ("qorv-bench-run-" + std::to_string(records) + ".json")).string();
    const std::string command = std::string(QORV_GENERATE_CLUSTER) + " --records " + std::to_string(records) +
                                " --seed 1 --output '" + path + "'";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("cannot run " + command);
  }
  return path;
}

void BM_ReadRunFile(benchmark::State& state) {
  const auto records = static_cast<std::size_t>(state.range(0));
  const std::string& path = RunFile(records);
  for (auto _ : state) {
    auto run = qorv::tools::ReadRunFile(path);
    benchmark::DoNotOptimize(run.config.get());
    // Freed outside the timing: the program leaves that to the process's end.
    state.PauseTiming();
    run.config.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(records));
  state.counters["MB"] = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
}

}  // namespace

BENCHMARK(BM_ReadRunFile)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
