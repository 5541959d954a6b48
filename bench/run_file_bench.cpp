// Reading a run file: generate_cluster's large-cluster files (each record
// is in a typed list and again in the category report's list, as the host
// writes them) read into the Config the postprocessor starts from, and
// beside it the least any reader of the file does.
#include <benchmark/benchmark.h>
#include <simdjson.h>

#include <chrono>
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

// Visits every value of a document and decodes none: what any reader of
// the file pays before it builds a record. Returns the values visited.
std::size_t Walk(simdjson::ondemand::value value) {
  switch (value.type().value()) {
    case simdjson::ondemand::json_type::object: {
      std::size_t count = 1;
      for (auto field : value.get_object()) count += Walk(field.value().value());
      return count;
    }
    case simdjson::ondemand::json_type::array: {
      std::size_t count = 1;
      for (auto element : value.get_array()) count += Walk(element.value());
      return count;
    }
    default: benchmark::DoNotOptimize(value.raw_json_token()); return 1;
  }
}

// The least a reader of the file does: load it and walk it. With the
// stages of floor_bench it bounds a whole run from below.
void BM_ParseFloor(benchmark::State& state) {
  const std::string& path = RunFile(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const auto json = simdjson::padded_string::load(path).value();
    const auto loaded = std::chrono::steady_clock::now();
    simdjson::ondemand::parser parser;
    auto document = parser.iterate(json);
    benchmark::DoNotOptimize(Walk(document.get_value().value()));
    const auto walked = std::chrono::steady_clock::now();
    state.counters["load"] = std::chrono::duration<double>(loaded - start).count();
    state.counters["walk"] = std::chrono::duration<double>(walked - loaded).count();
  }
}

}  // namespace

BENCHMARK(BM_ReadRunFile)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseFloor)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);
