// Issue keys, severity groups and issue types of the run data.
//
// An issue key is a 5-bit set: the issue type in bits 0-1, the severity
// group's code in bits 2-3 and the fail bit (16). Keys are always built from
// an integer masked to its low five bits, and every map keyed by them orders
// them by numeric value through CompareBitset. KeyType, KeySeverityCode and
// KeyFails read the three fields back. severity_groups is a constant table
// built at library load and never changed.
#pragma once

#include <bitset>
#include <map>
#include <string>
#include <tuple>

#include "postprocessor/support/export.h"

namespace qorv::postprocessor {

// Severity group codes; they occupy bits 2 and 3 of an issue key.
enum Severity : int { INFORMATIONAL = 0, WARNING = 4, CRITICAL = 8 };

// Kind of an issue: its raw list, or the general collapser's own kind.
enum Type : int { DIAGNOSIS = 0, OBSERVATION = 1, THIRD_LIST = 2, COLLAPSED = 3 };

using IssueKey = std::bitset<5>;

// Bit 4 of an issue key: the issue contributes to FAIL.
inline constexpr unsigned long kFailBit = 16;
// Type bits 0-1 set: "any observation" in the counts.
inline constexpr unsigned long kAnyObservation = 3;

// Builds the key of type, severity code and fail flag, masked to five bits.
inline IssueKey MakeIssueKey(unsigned long type, unsigned long severity_code, bool fail) {
  return IssueKey((type | severity_code | (fail ? kFailBit : 0UL)) & 0x1FUL);
}

// The type bits (0-1) of a key: a Type value, DIAGNOSIS to COLLAPSED.
inline Type KeyType(const IssueKey& key) { return static_cast<Type>(key.to_ulong() & 3UL); }

// The severity group's code (bits 2-3) of a key: 0, 4, 8 or 12; only
// 0, 4 and 8 name a group.
inline unsigned long KeySeverityCode(const IssueKey& key) { return key.to_ulong() & 12UL; }

// Whether the key's fail bit is set: its issues contribute to FAIL.
inline bool KeyFails(const IssueKey& key) { return (key.to_ulong() & kFailBit) != 0; }

// Orders issue keys by their numeric value, smaller first.
struct QORV_EXPORT CompareBitset {
  bool operator()(const IssueKey& a, const IssueKey& b) const { return a.to_ulong() < b.to_ulong(); }
};

// Group name to (lower bound, upper bound, code), bounds inclusive on the
// 0..100 scale: "critical" 75..100, "informational" 0..24, "warning" 25..74.
// Walks go in key order. A severity outside 0..100 falls in no group.
using SeverityGroups = std::map<std::string, std::tuple<int, int, Severity>>;
QORV_EXPORT extern const SeverityGroups severity_groups;

}  // namespace qorv::postprocessor
