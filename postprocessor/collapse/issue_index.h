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
#include "postprocessor/host/str.h"
#include "postprocessor/issue_key.h"
#include "postprocessor/open_addressing.h"
#include "postprocessor/postprocessor_extension_data.h"
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

// The usable id of id as a view into it: what get_usable_id returns.
inline std::string_view UsableId(std::string_view id) { return str::usable_id(id); }

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

// Identity to position, in open addressing: one slot holds the hash, the
// identity's views and the position, so a lookup rarely leaves the slot
// array, where a node-based map reaches into three places per record.
class IdentityTable {
 public:
  explicit IdentityTable(std::size_t expected) { Resize(expected * 2 + 16); }

  // The position filed under identity; when there is none, files position
  // under it and returns position.
  std::size_t Insert(const IssueIdentity& identity, std::size_t position) {
    if ((used_ + 1) * 2 > slots_.size()) Resize(slots_.size() * 2);
    const std::size_t hash = IssueIdentityHash()(identity);
    std::size_t i = hash & (slots_.size() - 1);
    for (; slots_[i].filled; i = (i + 1) & (slots_.size() - 1)) {
      if (slots_[i].hash == hash && slots_[i].identity == identity) return slots_[i].position;
    }
    slots_[i] = {true, hash, identity, position};
    ++used_;
    return position;
  }

 private:
  struct Slot {
    bool filled = false;
    std::size_t hash = 0;
    IssueIdentity identity;
    std::size_t position = 0;
  };

  void Resize(std::size_t at_least) {
    std::size_t size = 64;
    while (size < at_least) size *= 2;
    Rehash(slots_, size, [](const Slot& slot) { return !slot.filled; });
  }

  std::vector<Slot> slots_;
  std::size_t used_ = 0;
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

// PopulateFWD for each definition of data.fwd_attributes, in name order,
// stopping at the first that gives 1; the same counts, flags and messages,
// with the observations of each definition collected only once. The
// issues must not change meanwhile.
int PopulateFWDs(const UtilityFunctions& utility, const PostprocessorExtensionData& data);

// UtilityFunctions::DiagnosisMapping, looking the triggering issues up in
// index (an index of data.collapsed_by_type) instead of walking each group;
// a null index walks.
int DiagnosisMapping(const CollapsedAnalysisOutput& diagnosis, const PostprocessorExtensionData& data,
                     const UsableIdIndex* index, std::vector<std::shared_ptr<CollapsedAnalysisOutput>>& out, Type type);

// UtilityFunctions::GetOutputFWD with the triggering observations looked up
// through index, as DiagnosisMapping above.
int GetOutputFWD(const std::shared_ptr<CollapsedAnalysisOutput>& issue, Type type,
                 const PostprocessorExtensionData& data, const UsableIdIndex* index);

// UtilityFunctions::PopulateCollapsedOutput with lookups through index.
int PopulateCollapsedOutput(const std::shared_ptr<CollapsedAnalysisOutput>& issue, Type type,
                            const PostprocessorExtensionData& data, const UsableIdIndex* index);

// Adds to issue.fwds the definitions that cover a sign of any candidate,
// exactly as GetOutputFWD's walk over candidates and definitions does,
// messages and result included.
int AddDefinitionsOf(CollapsedAnalysisOutput& issue,
                     const std::vector<std::shared_ptr<CollapsedAnalysisOutput>>& candidates,
                     const PostprocessorExtensionData& data);

}  // namespace qorv::postprocessor::detail
