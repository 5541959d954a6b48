// CandidateIndex: the candidate issues of a collapse by the key Compare
// would accept them under, so that a record finds all its matches, in out
// order, without a walk. Internal, not installed.
//
// Compare is not one equality of two keys: a table candidate takes the
// record's usable id, the others its exact id, and a record without a
// secondary message compares messages where the others compare secondary
// messages. So every candidate is filed under one key per way a record may
// look at it: partition [1] holds the table candidates (only when ids are
// compared by usable id), and layer [1] keys the message in place of the
// secondary message. A record looks in its own layer of both partitions.
//
// A candidate's key never changes during a collapse: its first record and
// is_table stay as they are, and a record that joins a candidate without
// records equals the empty values in every compared field, so becoming the
// first record leaves the key the same.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "postprocessor/collapse/collapser.h"
#include "postprocessor/collapse/key_table.h"

namespace qorv::postprocessor::detail {

class CandidateIndex {
 public:
  // options must outlive the index.
  explicit CandidateIndex(const Collapser& options);

  // Files the candidate at position, whose first record is first (an empty
  // record for none). Positions must be added in ascending order, and a
  // candidate's first record and is_table must not change while the index
  // is in use.
  void Add(std::size_t position, const analysis::AnalysisOutput& first, bool is_table);

  // What a record looks up: its layer and keys, with their hashes. A walk
  // works them out a few records ahead of the lookup, and Prepare announces
  // the slots they will read: at a million records the slots lie far apart,
  // and each lookup would otherwise wait for memory.
  struct Probe {
    int layer = 0;
    std::string key;
    std::size_t hash = 0;
    // Only where table candidates are keyed by usable id, and only for an
    // id with a sub-id: otherwise the usable key is key.
    std::string usable_key;
    bool usable_is_key = true;
    std::size_t usable_hash = 0;
  };
  void Prepare(const analysis::AnalysisOutput& record, Probe& probe) const;

  // The candidates the record of probe matches, ascending: in exact those
  // keyed by exact id, in usable the table candidates keyed by usable id.
  // Each bool tells whether there are any. Valid until the next Add.
  struct Matches {
    bool exact_found = false;
    Positions exact;
    bool usable_found = false;
    Positions usable;
  };
  Matches Find(const Probe& probe);

 private:
  struct Candidate {
    std::size_t position;
    const analysis::AnalysisOutput* first;
    bool table;  // keyed by usable id
  };

  int Layers() const { return options_.compare_secondary ? 2 : 1; }
  void File(const Candidate& candidate, int layer);
  // The fields compared under the options, encoded into key.
  void KeyOf(const analysis::AnalysisOutput& record, std::string_view id, bool secondary_by_message,
             std::string& key) const;

  const Collapser& options_;
  const bool by_usable_id_;
  std::vector<Candidate> candidates_;
  // A layer is keyed when a record first looks in it: most runs have
  // secondary messages on all records or on none, and never need the other.
  bool layer_built_[2] = {false, false};
  KeyTable keys_[2][2];  // [partition][layer]
  std::string key_;
};

}  // namespace qorv::postprocessor::detail
