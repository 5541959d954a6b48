// Internal indexes of the collapse and mapping code. Not part of the
// toolkit: nothing here is exported.
//
// They find, in constant time, what the walks over collapsed issues would
// find, and keep the walks' results and order exactly.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "postprocessor/collapse/collapsed_analysis_output.h"
#include "postprocessor/host/issue_key.h"
#include "postprocessor/host/str.h"
#include "postprocessor/postprocessor_extension_data.h"
#include "postprocessor/support/open_table.h"
#include "postprocessor/utility_functions.h"

namespace qorv::postprocessor::detail {

// The key of a severity group for the type bits: its code, the type and the
// fail bit when the FAIL level is at or below the group's lower bound. The
// severity collapse files issues under it and every lookup uses it.
inline IssueKey GroupKey(const SeverityGroups::value_type& group, unsigned long type_bits, int fail_level) {
  return MakeIssueKey(type_bits, std::get<2>(group.second), fail_level <= std::get<0>(group.second));
}

// The id of the issue's first record, "" without one: get_id without the
// copy, for lookups.
inline const std::string& FirstId(const CollapsedAnalysisOutput& issue) {
  static const std::string kNone;
  return issue.issues.empty() || !issue.issues.front() ? kNone : issue.issues.front()->id;
}

// The vector of collapsed issues under key, or null.
inline const CollapsedIssues* FindGroup(const PostprocessorExtensionData& data, const IssueKey& key) {
  if (!data.collapsed_by_type) return nullptr;
  const auto found = data.collapsed_by_type->find(key);
  return found == data.collapsed_by_type->end() ? nullptr : &found->second;
}

// Identity of a collapsed issue for the severity collapse and the
// dependency merge: its first record's id, severity and message (the
// empty values when it has no record). Views into the record.
struct IssueIdentity {
  std::string_view id;
  int severity = 0;
  std::string_view message;

  static IssueIdentity Of(const CollapsedAnalysisOutput& issue) {
    if (issue.issues.empty() || !issue.issues.front()) return {};
    const auto& first = *issue.issues.front();
    return {first.id, first.severity, first.message};
  }
  static IssueIdentity Of(const analysis::AnalysisOutput& record) {
    return {record.id, record.severity, record.message};
  }
  bool operator==(const IssueIdentity& other) const {
    return severity == other.severity && id == other.id && message == other.message;
  }
};

struct IssueIdentityHash {
  std::size_t operator()(const IssueIdentity& key) const noexcept {
    const std::size_t a = std::hash<std::string_view>()(key.id);
    const std::size_t b = std::hash<std::string_view>()(key.message);
    return a ^ (b * 0x9e3779b97f4a7c15ULL) ^ (static_cast<std::size_t>(key.severity) << 1);
  }
};

// Identity to position: the slots hold the identity's views and the
// position, so a lookup rarely leaves them, where a node-based map reaches
// into three places per record.
class IdentityTable {
 public:
  explicit IdentityTable(std::size_t expected) { table_.Reserve(expected); }

  // The position filed under identity; when there is none, files position
  // under it and returns position.
  std::size_t Insert(const IssueIdentity& identity, std::size_t position) {
    const auto [entry, added] = table_.Insert(IssueIdentityHash()(identity),
                                              [&identity](const Entry& filed) { return filed.identity == identity; });
    if (added) *entry = {identity, position};
    return entry->position;
  }

 private:
  struct Entry {
    IssueIdentity identity;
    std::size_t position = 0;
  };
  OpenTable<Entry> table_;
};

// Usable id to the positions, ascending, of the collapsed issues under each
// key of a collapsed_by_type map. Valid while the map's vectors and the
// issues' first records stay as they were when it was built.
class UsableIdIndex {
 public:
  explicit UsableIdIndex(const CollapsedByType& map);

  // Positions of the issues under key whose usable id is id; null when none.
  const std::vector<std::size_t>* Find(const IssueKey& key, const std::string& usable_id) const;

 private:
  // Keys are views into the first records' ids.
  std::unordered_map<unsigned long, std::unordered_map<std::string_view, std::vector<std::size_t>>> by_key_;
};

}  // namespace qorv::postprocessor::detail
