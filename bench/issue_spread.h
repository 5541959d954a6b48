// How the large-cluster workload spreads its records over distinct issues,
// shared by the run-file generator and the benchmarks that mirror its
// shape. Header only, deterministic.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace qorv::tools {

// Records per issue for records one-node records over nodes nodes and
// distinct issues: issue r (from 1) is found on about A / r nodes, capped at
// every node and at least one, with A chosen so that the counts add up to
// the records: a few issues on most nodes, most issues on a node or two.
inline std::vector<std::size_t> IssueSpread(std::size_t records, std::size_t nodes, std::size_t distinct) {
  std::vector<std::size_t> counts(distinct);
  const auto fill = [&](double a) {
    std::size_t total = 0;
    for (std::size_t r = 0; r < distinct; ++r) {
      const double wanted = a / static_cast<double>(r + 1);
      counts[r] = std::clamp<std::size_t>(static_cast<std::size_t>(wanted), 1, nodes);
      total += counts[r];
    }
    return total;
  };
  double low = 0;
  double high = static_cast<double>(records) + 1;
  for (int step = 0; step < 100; ++step) {
    const double middle = (low + high) / 2;
    (fill(middle) > records ? high : low) = middle;
  }
  std::size_t total = fill(low);
  // The floor leaves a remainder below one record per issue: spread it over
  // the most frequent issues that are not on every node yet.
  for (std::size_t r = 0; total < records && r < distinct; ++r) {
    if (counts[r] < nodes) {
      ++counts[r];
      ++total;
    }
  }
  return counts;
}

}  // namespace qorv::tools
