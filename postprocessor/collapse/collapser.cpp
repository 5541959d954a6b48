#include "postprocessor/collapse/collapser.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "postprocessor/collapse/collapse_plan.h"
#include "postprocessor/collapse/issue_index.h"
#include "postprocessor/intake/message_table.h"
#include "postprocessor/open_addressing.h"
#include "postprocessor/record_prefetch.h"
#include "postprocessor/utility_functions.h"

namespace qorv::postprocessor {

namespace {

using analysis::AnalysisOutput;

// The values of a candidate without a first record: "" texts, severity 0,
// not suppressed.
const AnalysisOutput kNoRecord{};

const AnalysisOutput& FirstRecord(const CollapsedAnalysisOutput& issue) {
  return issue.issues.empty() || !issue.issues.front() ? kNoRecord : *issue.issues.front();
}

// Appends one field to an encoded key: its length (seven bits a byte, the
// high bit set on all but the last), then its bytes, so two keys are equal
// exactly when every field is.
void AppendField(std::string& key, std::string_view text) {
  std::size_t size = text.size();
  for (; size >= 0x80; size >>= 7) key.push_back(static_cast<char>((size & 0x7F) | 0x80));
  key.push_back(static_cast<char>(size));
  key.append(text);
}

// The positions of the candidates under one key, ascending: the first, and
// those after it (null when there are none; most keys have one candidate).
struct Positions {
  std::size_t first = 0;
  const std::vector<std::size_t>* more = nullptr;
};

// Positions by encoded key, in open addressing: a lookup reads one slot,
// which holds the key's hash and positions, and only on a hash match the
// key, which lies with the others in a few large blocks. At a million
// records a node-based map spends most of the collapse waiting for memory.
// Keys are stored without the slack of a growing buffer: a run has as many
// keys as distinct issues, and the table lives beside the run's other data.
class KeyTable {
 public:
  static std::size_t Hash(std::string_view key) { return std::hash<std::string_view>()(key); }

  // A hint that a lookup of a key of this hash follows soon.
  void Prefetch(std::size_t hash) const {
    if (!slots_.empty()) detail::Prefetch(&slots_[hash & (slots_.size() - 1)]);
  }

  // The positions filed under key, whose hash is hash, into found; false
  // when there are none. Valid until the next Add.
  bool Find(std::string_view key, std::size_t hash, Positions& found) const {
    if (slots_.empty()) return false;
    for (std::size_t i = hash & (slots_.size() - 1);; i = (i + 1) & (slots_.size() - 1)) {
      const Slot& slot = slots_[i];
      if (slot.key == nullptr) return false;
      if (slot.hash == hash && KeyOf(slot) == key) {
        found = {slot.first, slot.more == kNoMore ? nullptr : &more_[slot.more]};
        return true;
      }
    }
  }

  // Files position under key, after the positions already there.
  void Add(std::string_view key, std::size_t position) {
    if ((keys_ + 1) * 2 > slots_.size()) Grow();
    const std::size_t hash = Hash(key);
    std::size_t i = hash & (slots_.size() - 1);
    for (; slots_[i].key != nullptr; i = (i + 1) & (slots_.size() - 1)) {
      Slot& slot = slots_[i];
      if (slot.hash == hash && KeyOf(slot) == key) {
        if (slot.more == kNoMore) {
          if (more_.size() >= kNoMore) throw std::length_error("too many issues to collapse");
          slot.more = static_cast<std::uint32_t>(more_.size());
          more_.emplace_back();
        }
        more_[slot.more].push_back(position);
        return;
      }
    }
    if (key.size() > std::numeric_limits<std::uint32_t>::max()) throw std::length_error("issue too large to collapse");
    slots_[i] = {hash, Store(key), static_cast<std::uint32_t>(key.size()), kNoMore, position};
    ++keys_;
  }

 private:
  static constexpr std::uint32_t kNoMore = std::numeric_limits<std::uint32_t>::max();
  static constexpr std::size_t kBlock = std::size_t{1} << 20;

  struct Slot {
    std::size_t hash = 0;
    const char* key = nullptr;  // null for a free slot
    std::uint32_t size = 0;
    std::uint32_t more = kNoMore;  // index into more_, or kNoMore
    std::size_t first = 0;
  };

  static std::string_view KeyOf(const Slot& slot) { return std::string_view(slot.key, slot.size); }

  // A copy of key that stays where it is, never null: in the current
  // block, or a new one.
  const char* Store(std::string_view key) {
    if (blocks_.empty() || block_used_ + key.size() > block_size_) {
      block_size_ = std::max(kBlock, key.size());
      blocks_.push_back(std::make_unique<char[]>(block_size_));
      block_used_ = 0;
    }
    char* copy = blocks_.back().get() + block_used_;
    if (!key.empty()) std::memcpy(copy, key.data(), key.size());
    block_used_ += key.size();
    return copy;
  }

  void Grow() {
    detail::Rehash(slots_, slots_.empty() ? 64 : slots_.size() * 2,
                   [](const Slot& slot) { return slot.key == nullptr; });
  }

  std::vector<Slot> slots_;
  std::size_t keys_ = 0;
  std::vector<std::vector<std::size_t>> more_;
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t block_size_ = 0;
  std::size_t block_used_ = 0;
};

// The candidates of a collapse by the key Compare would accept them under,
// so a record finds all its matches, in out order, without a walk.
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
class CandidateIndex {
 public:
  explicit CandidateIndex(const Collapser& options)
      : options_(options), by_usable_id_(options.compare_id && options.use_tables) {}

  // Files the candidate at position, whose first record is first (kNoRecord
  // for none). Positions must be added in ascending order, and a
  // candidate's first record and is_table must not change while the index
  // is in use.
  void Add(std::size_t position, const AnalysisOutput& first, bool is_table) {
    last_.valid = false;
    candidates_.push_back({position, &first, by_usable_id_ && is_table});
    for (int layer = 0; layer < Layers(); ++layer) {
      if (layer_built_[layer]) File(candidates_.back(), layer);
    }
  }

  // What a record looks up: its layer and keys, with their hashes. A walk
  // works them out a few records ahead of the lookup and announces the
  // slots they will read: at a million records the slots lie far apart,
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

  void Prepare(const AnalysisOutput& record, Probe& probe) const {
    probe.layer = options_.compare_secondary && record.secondary_message.empty() ? 1 : 0;
    KeyOf(record, record.id, probe.layer == 1, probe.key);
    probe.hash = Buckets::Hash(probe.key);
    // A layer not yet keyed has no slots to announce.
    if (layer_built_[probe.layer]) buckets_[0][probe.layer].Prefetch(probe.hash);
    if (by_usable_id_) {
      const std::string_view usable_id = detail::UsableId(record.id);
      probe.usable_is_key = usable_id.size() == record.id.size();
      probe.usable_hash = probe.hash;
      if (!probe.usable_is_key) {
        KeyOf(record, usable_id, probe.layer == 1, probe.usable_key);
        probe.usable_hash = Buckets::Hash(probe.usable_key);
      }
      if (layer_built_[probe.layer]) buckets_[1][probe.layer].Prefetch(probe.usable_hash);
    }
  }

  // The positions, ascending, of the candidates the record of probe
  // matches: in exact those keyed by exact id, in usable the table
  // candidates keyed by usable id, each with whether there are any. Valid
  // until the next Add.
  void Find(const Probe& probe, bool& exact_found, Positions& exact, bool& usable_found, Positions& usable) {
    const int layer = probe.layer;
    // A layer is keyed when a record first looks in it: most runs have
    // secondary messages on all records or on none, and never need the other.
    if (!layer_built_[layer]) {
      for (const Candidate& candidate : candidates_) File(candidate, layer);
      layer_built_[layer] = true;
    }
    // Where an id is one issue, a list sorted by id holds the issue's
    // records one after the other: a record keyed like the one before
    // finds what it found, as long as no candidate came in between. The
    // check costs one comparison where it fails.
    if (last_.valid && last_.layer == layer && last_.key == probe.key) {
      exact_found = last_.exact_found;
      exact = last_.exact;
      usable_found = last_.usable_found;
      usable = last_.usable;
    } else {
      exact_found = buckets_[0][layer].Find(probe.key, probe.hash, exact);
      usable_found = by_usable_id_ && buckets_[1][layer].Find(probe.usable_is_key ? probe.key : probe.usable_key,
                                                              probe.usable_hash, usable);
      last_.valid = true;
      last_.layer = layer;
      last_.key.assign(probe.key);
      last_.exact_found = exact_found;
      last_.exact = exact;
      last_.usable_found = usable_found;
      last_.usable = usable;
    }
  }

 private:
  // Encoded keys: one contiguous text per candidate, so a lookup hashes
  // and compares one buffer instead of reaching into scattered records.
  using Buckets = KeyTable;

  struct Candidate {
    std::size_t position;
    const AnalysisOutput* first;
    bool table;  // keyed by usable id
  };

  int Layers() const { return options_.compare_secondary ? 2 : 1; }

  void File(const Candidate& candidate, int layer) {
    const std::string& id = candidate.first->id;
    const std::string_view keyed_id = candidate.table ? detail::UsableId(id) : std::string_view(id);
    KeyOf(*candidate.first, keyed_id, layer == 1, key_);
    buckets_[candidate.table][layer].Add(key_, candidate.position);
  }

  // The fields compared under the options, encoded into key.
  void KeyOf(const AnalysisOutput& record, std::string_view id, bool secondary_by_message, std::string& key) const {
    key.clear();
    const std::int32_t severity = options_.compare_severity ? record.severity : 0;
    key.append(reinterpret_cast<const char*>(&severity), sizeof severity);
    key.push_back(options_.compare_suppressed && record.suppressed ? '1' : '0');
    if (options_.compare_id) AppendField(key, id);
    if (options_.compare_message) AppendField(key, record.message);
    if (options_.compare_secondary) AppendField(key, secondary_by_message ? record.message : record.secondary_message);
    if (options_.compare_category) AppendField(key, record.category);
    if (options_.compare_subcategory) AppendField(key, record.subcategory);
  }

  // The last lookup: its layer, exact key and results. Valid until the next Add.
  struct Lookup {
    bool valid = false;
    int layer = 0;
    std::string key;
    bool exact_found = false;
    Positions exact;
    bool usable_found = false;
    Positions usable;
  };

  const Collapser& options_;
  const bool by_usable_id_;
  Lookup last_;
  std::vector<Candidate> candidates_;
  bool layer_built_[2] = {false, false};
  Buckets buckets_[2][2];
  std::string key_;
};

// Sorting fewer than two rows changes nothing.
void SortTables(std::vector<std::shared_ptr<CollapsedAnalysisOutput>>& out) {
  for (const auto& issue : out) {
    if (issue && issue->table.rows.size() > 1) issue->table.Sort();
  }
}

}  // namespace

bool Collapser::Compare(std::shared_ptr<AnalysisOutput> record, std::shared_ptr<CollapsedAnalysisOutput> candidate) {
  if (!record || !candidate) return false;
  const AnalysisOutput& first = FirstRecord(*candidate);
  if (compare_id) {
    if (use_tables && candidate->is_table) {
      const UtilityFunctions utility;
      if (utility.get_usable_id(record->id) != utility.get_usable_id(first.id)) return false;
    } else if (record->id != first.id) {
      return false;
    }
  }
  if (compare_severity && record->severity != first.severity) return false;
  if (compare_message && record->message != first.message) return false;
  if (compare_secondary) {
    const bool by_message = record->secondary_message.empty();
    if (by_message ? record->message != first.message : record->secondary_message != first.secondary_message) {
      return false;
    }
  }
  if (compare_suppressed && record->suppressed != first.suppressed) return false;
  if (compare_category && record->category != first.category) return false;
  if (compare_subcategory && record->subcategory != first.subcategory) return false;
  return true;
}

void Collapser::Collapse(std::shared_ptr<std::vector<std::shared_ptr<AnalysisOutput>>> records,
                         std::vector<std::shared_ptr<CollapsedAnalysisOutput>>& out) {
  if (!records) return SortTables(out);
  std::vector<bool> reused;
  detail::CollapsePlan(*this, *records, out, nullptr).Finish(reused, nullptr);
}

namespace detail {

CollapsePlan::CollapsePlan(const Collapser& options, const Records& records, CollapsedList& out,
                           const CollapseGroups* reuse)
    : options_(options), records_(records), out_(out), reuse_(reuse), existing_(out.size()), joins_(records.size()) {
  // Which issues each record joins, decided in list order; the records are
  // appended in Finish, issue by issue, once the index is gone.
  {
    CandidateIndex index(options);
    for (std::size_t i = 0; i < out.size(); ++i) {
      if (out[i]) index.Add(i, FirstRecord(*out[i]), out[i]->is_table);
    }
    const RecordPrefetch prefetch(records,
                                  kId | kCategory | kMessage | kSecondary | kSeverity | kSubcategory | kMessageText);
    const auto skipped = [&](const std::shared_ptr<AnalysisOutput>& record) {
      return !record || (options.skip_suppressed && record->suppressed);
    };
    // Each record's probe is prepared kProbeAhead records before its lookup.
    constexpr std::size_t kProbeAhead = 4;
    std::vector<CandidateIndex::Probe> probes(kProbeAhead + 1);
    const auto prepare = [&](std::size_t i) {
      if (i < records.size() && !skipped(records[i])) index.Prepare(*records[i], probes[i % probes.size()]);
    };
    for (std::size_t i = 0; i < kProbeAhead; ++i) prepare(i);
    for (std::size_t i = 0; i < records.size(); ++i) {
      prefetch.At(i);
      prepare(i + kProbeAhead);
      const auto& record = records[i];
      if (skipped(record)) continue;

      bool exact_found = false;
      bool usable_found = false;
      Positions exact;
      Positions usable;
      index.Find(probes[i % probes.size()], exact_found, exact, usable_found, usable);
      // The two lists never share a position, and joining one issue does not
      // touch another, so taking them one after the other gives what the walk
      // in out order gives.
      for (const auto& [found, positions] : {std::pair{exact_found, exact}, std::pair{usable_found, usable}}) {
        if (!found) continue;
        joins_.Add(positions.first, i);
        if (positions.more) {
          for (std::size_t position : *positions.more) joins_.Add(position, i);
        }
      }

      if (!exact_found && !usable_found) {
        // The record will be the new issue's first.
        const bool table = TableId(record->id);
        index.Add(out.size(), *record, table);
        joins_.Add(out.size(), i);
        out.push_back(nullptr);
        new_table_.push_back(table);
      }
    }
  }
  // The index is gone before the joins are ordered, so that the two are
  // not held at once.
  joins_.Sort(out.size());

  taken_.assign(out.size() - existing_, CollapseGroups::kNone);
  if (!reuse_) return;
  for (std::size_t p = existing_; p < out.size(); ++p) {
    const GroupedJoins::Index* first = joins_.begin(p);
    const GroupedJoins::Index* last = joins_.end(p);
    if (first == last || new_table_[p - existing_] || *first >= reuse_->of_record.size()) continue;
    const std::uint32_t group = reuse_->of_record[*first];
    if (group == CollapseGroups::kNone || group >= reuse_->issues.size()) continue;
    const auto& issue = reuse_->issues[group];
    if (!issue || issue->is_table || issue->issues.size() != static_cast<std::size_t>(last - first)) continue;
    bool same = true;
    for (const GroupedJoins::Index* k = first; same && k != last; ++k) {
      same = *k < reuse_->of_record.size() && reuse_->of_record[*k] == group;
    }
    if (!same) continue;
    taken_[p - existing_] = group;
    reused_records_ += static_cast<std::size_t>(last - first);
  }
}

void CollapsePlan::DropReuse() {
  reuse_ = nullptr;
  taken_.assign(taken_.size(), CollapseGroups::kNone);
  reused_records_ = 0;
}

void CollapsePlan::Finish(std::vector<bool>& reused, CollapseGroups* groups) {
  reused.assign(out_.size(), false);
  if (groups) {
    groups->of_record.assign(records_.size(), CollapseGroups::kNone);
    groups->issues.clear();
  }
  // A new table issue takes its first record's row whatever the options;
  // a record joining an issue adds its row under use_tables.
  bool creating = false;
  joins_.Each(
      records_, kCount | kNodes | kNodeNames,
      [&](std::size_t position, const GroupedJoins::Index* first, const GroupedJoins::Index* last) {
        if (groups) {
          for (const GroupedJoins::Index* k = first; k != last; ++k) {
            groups->of_record[*k] = static_cast<std::uint32_t>(position);
          }
        }
        creating = position >= existing_;
        if (creating) {
          const std::size_t fresh = position - existing_;
          if (taken_[fresh] != CollapseGroups::kNone) {
            out_[position] = reuse_->issues[taken_[fresh]];
            reused[position] = true;
            return false;
          }
          auto issue = std::make_shared<CollapsedAnalysisOutput>(COLLAPSED);
          if (new_table_[fresh]) {
            issue->table = Table(MessageTable::GetHeaders(records_[*first]->id));
            issue->is_table = true;
          }
          out_[position] = std::move(issue);
        }
        auto& issues = out_[position]->issues;
        issues.reserve(issues.size() + static_cast<std::size_t>(last - first));
        return true;
      },
      [&](std::size_t position, std::size_t i) {
        const auto& record = records_[i];
        CollapsedAnalysisOutput& issue = *out_[position];
        issue.append(record);
        if (creating ? issue.is_table
                     : options_.use_tables && issue.is_table && issue.table.IsValid() && TableId(record->id)) {
          issue.table.InsertRow(MessageTable::GetRow(record->id, record->message_args), record->nodes);
        }
        creating = false;
      });
  SortTables(out_);
  if (groups) groups->issues = out_;
}

// Whether an id is a table message depends on its usable id alone. The
// definitions do not change during a collapse.
bool CollapsePlan::TableId(const std::string& id) {
  if (!table_ids_made_) {
    table_ids_made_ = true;
    for (const auto& table : MessageTable::table_map) table_ids_.Number(table.first);
  }
  return table_ids_.Contains(UsableId(id));
}

}  // namespace detail

}  // namespace qorv::postprocessor
