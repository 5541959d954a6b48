// Synthetic issue records for the benchmarks, shaped like a large cluster's:
// rack/node names, catalogue-style message ids with sub-ids, severities in
// all three severity groups, and the sign maps and Framework Definitions
// that make the collapse link diagnoses to observations.
//
// Everything here is deterministic for its arguments, so runs on different
// days measure the same input. Header only: each benchmark program includes
// it once. Not thread-safe: callers build their inputs before timing.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "postprocessor/collapse/collapsed_analysis_output.h"
#include "postprocessor/host/config.h"
#include "postprocessor/collapse/record_prefetch.h"

namespace qorv::bench {

// Severities the checks report, spread over informational, warning and
// critical; the repeats weight the common ones.
inline const std::vector<int>& Severities() {
  static const std::vector<int> values = {5, 10, 10, 20, 30, 40, 40, 50, 60, 75, 80, 90, 100};
  return values;
}

// pattern (one %zu conversion) filled in with number; texts of the
// benchmarks' records are short.
inline std::string Format(const char* pattern, std::size_t number) {
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, pattern, number);
  return buffer;
}

// "rack017-node042": 64 nodes a rack, as node lists of real clusters look.
inline std::string NodeName(std::size_t index) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "rack%03zu-node%02zu", index / 64, index % 64);
  return buffer;
}

// A catalogue-style id for check number index: "qorv-<area>-<problem>" with
// the check number appended past the first catalogue's worth, so any count
// of distinct ids can be made while they still look like the real ones.
inline std::string CheckId(std::size_t index) {
  static const char* const areas[] = {"memory", "cpu", "dgemm", "stream", "link", "clock", "mount",
                                      "kernel", "gpu", "disk",  "fan",    "psu",  "bios",  "ecc"};
  static const char* const problems[] = {"low",    "high", "slow",   "down",   "missing",     "mismatch",
                                         "uneven", "hot",  "errors", "offset", "unreachable", "degraded"};
  constexpr std::size_t kAreas = sizeof areas / sizeof areas[0];
  constexpr std::size_t kProblems = sizeof problems / sizeof problems[0];
  std::string id = std::string("qorv-") + areas[index % kAreas] + "-" + problems[(index / kAreas) % kProblems];
  const std::size_t round = index / (kAreas * kProblems);
  if (round > 0) id += "-" + std::to_string(round);
  return id;
}

// count one-node records with ids from id_count checks (one in eight with a
// "#socketN" sub-id) and weighted severities, four to a node, node by node:
// the shape of a host's raw issue list before the intake sorts it.
inline IssueList SortRecords(std::size_t count, std::size_t id_count, std::uint32_t seed) {
  std::mt19937_64 rng(seed);
  const auto& severities = Severities();
  std::vector<std::string> ids;
  for (std::size_t i = 0; i < id_count; ++i) ids.push_back(CheckId(i));

  IssueList records;
  records.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    auto record = std::make_shared<analysis::AnalysisOutput>();
    record->id = ids[rng() % ids.size()];
    if (rng() % 8 == 0) record->id += "#socket" + std::to_string(rng() % 2);
    record->severity = severities[rng() % severities.size()];
    record->nodes.push_back(NodeName(i / 4));
    records.push_back(std::move(record));
  }
  return records;
}

// Shape of a collapse workload.
struct CollapseShape {
  std::size_t records = 0;
  // Records per distinct issue: 10 gives "10% distinct issues".
  std::size_t records_per_issue = 10;
  // Distinct issues per check (usable id): sub-ids and severities of one
  // check. The number of checks grows with the records, as it does when
  // more and larger node groups are tested.
  std::size_t issues_per_check = 4;
  std::uint32_t seed = 1;
};

namespace detail {

inline std::string SignName(std::size_t index) { return "sign-" + std::to_string(index); }

constexpr std::size_t kSigns = 40;
constexpr std::size_t kFwds = 8;

// Every fifth check is a diagnosis, the rest are observations.
inline bool IsDiagnosisCheck(std::size_t check) { return check % 5 == 0; }

}  // namespace detail

// A configuration whose diagnosis and observation lists hold shape.records
// records of records / records_per_issue distinct issues. Records of one
// issue share id, severity and message and lie on different nodes of a
// cluster of records / records_per_issue nodes. Every check has its entry
// in the sign maps (the collapse fails on a missing one); every tenth check
// is a diagnosis triggered by the next two observation checks, every
// twentieth also by the next diagnosis check. Signs are spread over eight
// Framework Definitions. The lists are in the host's order, node by node;
// the intake sorts them before anything is collapsed.
inline std::shared_ptr<Config> CollapseConfig(const CollapseShape& shape) {
  auto config = std::make_shared<Config>();
  const std::size_t issues = std::max<std::size_t>(shape.records / shape.records_per_issue, 1);
  const std::size_t checks = (issues + shape.issues_per_check - 1) / shape.issues_per_check;
  const std::size_t node_count = issues;
  const std::size_t node_step = std::max<std::size_t>(node_count / shape.records_per_issue, 1);
  const auto& severities = Severities();

  for (std::size_t i = 0; i < node_count; ++i) config->nodes.push_back({i % 7 == 0 ? "gpu" : "", NodeName(i)});

  for (std::size_t check = 0; check < checks; ++check) {
    const std::string id = CheckId(check);
    if (detail::IsDiagnosisCheck(check)) {
      std::vector<std::string> triggers;
      if (check % 10 == 0) {
        triggers = {CheckId(check + 1), CheckId(check + 2)};
        if (check % 20 == 0) triggers.push_back(CheckId(check + 5));
      }
      config->diagnosis_ids[id] = triggers;
    } else {
      std::vector<std::string> signs = {detail::SignName(check % detail::kSigns)};
      if (check % 3 == 0) signs.push_back(detail::SignName((check + 7) % detail::kSigns));
      config->observation_ids[id] = signs;
    }
  }

  for (std::size_t f = 0; f < detail::kFwds; ++f) {
    auto fwd = std::make_shared<Fwd>();
    fwd->name = "health-" + std::to_string(f);
    fwd->path = "/etc/qorv/fwd/" + fwd->name + ".xml";
    for (std::size_t s = f; s < detail::kSigns; s += detail::kFwds) fwd->signs.insert(detail::SignName(s));
    config->fwd_attributes->names.push_back(fwd->name);
    config->fwd_attributes->fwds[fwd->name] = fwd;
  }

  // One prototype per distinct issue; its records copy it and differ only
  // in their node.
  std::vector<analysis::AnalysisOutput> prototypes(issues);
  std::mt19937_64 rng(shape.seed);
  for (std::size_t k = 0; k < issues; ++k) {
    const std::size_t check = k / shape.issues_per_check;
    const std::size_t variant = k % shape.issues_per_check;
    auto& issue = prototypes[k];
    issue.id = CheckId(check) + (variant % 2 == 1 ? "#socket" + std::to_string(variant / 2) : "");
    issue.severity = severities[rng() % severities.size()];
    issue.message = "Check " + std::to_string(check) + " measured " + std::to_string(rng() % 10000) +
                    " against a limit of " + std::to_string(1000 + variant * 250) + " on its nodes.";
  }

  // The host finds issues node by node, so records are made (and lie in
  // memory) in node order.
  std::vector<std::pair<std::size_t, std::size_t>> placed;  // node, issue
  placed.reserve(issues * shape.records_per_issue);
  for (std::size_t k = 0; k < issues; ++k) {
    for (std::size_t j = 0; j < shape.records_per_issue; ++j) placed.emplace_back((k + j * node_step) % node_count, k);
  }
  std::sort(placed.begin(), placed.end());
  for (const auto& [node, k] : placed) {
    const bool diagnosis = detail::IsDiagnosisCheck(k / shape.issues_per_check);
    auto record = std::make_shared<analysis::AnalysisOutput>(prototypes[k]);
    record->nodes.push_back(NodeName(node));
    config->issue_lists[diagnosis ? Config::DIAGNOSES : Config::OBSERVATIONS].push_back(std::move(record));
  }
  return config;
}

// The records of a list grouped by key(record), groups in the order of their
// first record and records in list order within each: the walk a collapse
// appends them in once it knows which issue each joins, and the size of
// each group. Null records are left out.
template <typename Key>
std::pair<IssueList, std::vector<std::size_t>> GroupedWalk(const IssueList& records, Key key) {
  std::map<std::string, std::size_t> group_of;
  std::vector<IssueList> groups;
  for (const auto& record : records) {
    if (!record) continue;
    const auto [at, added] = group_of.emplace(key(*record), groups.size());
    if (added) groups.emplace_back();
    groups[at->second].push_back(record);
  }
  std::pair<IssueList, std::vector<std::size_t>> walk;
  for (auto& group : groups) {
    walk.first.insert(walk.first.end(), group.begin(), group.end());
    walk.second.push_back(group.size());
  }
  return walk;
}

// The least any collapse into CollapsedAnalysisOutput does once its
// grouping is known: a new issue for each group of the walk, its records
// appended in turn, prefetched as the library's walks prefetch them.
// Nothing is compared, hashed or looked up.
inline std::vector<std::shared_ptr<postprocessor::CollapsedAnalysisOutput>> AppendGroups(
    const IssueList& walk, const std::vector<std::size_t>& sizes, postprocessor::Type type) {
  namespace detail = postprocessor::detail;
  std::vector<std::shared_ptr<postprocessor::CollapsedAnalysisOutput>> out;
  out.reserve(sizes.size());
  const detail::RecordPrefetch prefetch(walk, detail::kCount | detail::kNodes | detail::kNodeNames);
  std::size_t i = 0;
  for (const std::size_t size : sizes) {
    auto& issue = *out.emplace_back(std::make_shared<postprocessor::CollapsedAnalysisOutput>(type));
    issue.issues.reserve(size);
    for (const std::size_t end = i + size; i < end; ++i) {
      prefetch.At(i);
      issue.append(walk[i]);
    }
  }
  return out;
}

}  // namespace qorv::bench
