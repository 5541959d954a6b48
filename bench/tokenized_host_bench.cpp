// TokenizedHost::get_merged_hosts on 1,000 to 100,000 names, for names that
// fold into one range and for names that fold into nothing.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "postprocessor/host/tokenized_host.h"

namespace {

// node00000, node00001, ... in shuffled order: callers collect hosts as
// results arrive, not sorted.
std::vector<std::string> regular_names(std::size_t count) {
  std::vector<std::string> names;
  names.reserve(count);
  char buffer[32];
  for (std::size_t i = 0; i < count; ++i) {
    std::snprintf(buffer, sizeof buffer, "node%05zu", i);
    names.emplace_back(buffer);
  }
  std::shuffle(names.begin(), names.end(), std::mt19937(1));
  return names;
}

// Random letters around a random number, so every name has a prefix and
// suffix of its own.
std::vector<std::string> irregular_names(std::size_t count) {
  std::mt19937 rng(2);
  std::vector<std::string> names;
  names.reserve(count);
  auto letters = [&](std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += static_cast<char>('a' + rng() % 26);
    return s;
  };
  for (std::size_t i = 0; i < count; ++i) {
    names.push_back(letters(8) + std::to_string(rng() % 1000) + "-" + letters(3));
  }
  return names;
}

void run(benchmark::State& state, const std::vector<std::string>& names) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(qorv::TokenizedHost::get_merged_hosts(names));
  }
  state.SetComplexityN(state.range(0));
}

void BM_MergeRegular(benchmark::State& state) { run(state, regular_names(static_cast<std::size_t>(state.range(0)))); }

void BM_MergeIrregular(benchmark::State& state) {
  run(state, irregular_names(static_cast<std::size_t>(state.range(0))));
}

BENCHMARK(BM_MergeRegular)->RangeMultiplier(10)->Range(1000, 100000)->Unit(benchmark::kMillisecond)->Complexity();
BENCHMARK(BM_MergeIrregular)->RangeMultiplier(10)->Range(1000, 100000)->Unit(benchmark::kMillisecond)->Complexity();

}  // namespace
