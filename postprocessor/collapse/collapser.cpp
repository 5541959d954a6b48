#include "postprocessor/collapse/collapser.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "postprocessor/intake/message_table.h"
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

// The fields that the options on compare, as views into a record (or into
// the index's own copy of a usable id). Fields not compared stay empty, so
// two keys are equal exactly when Compare would accept.
struct MatchKey {
  std::string_view id;
  std::string_view message;
  std::string_view secondary;
  std::string_view category;
  std::string_view subcategory;
  std::int32_t severity = 0;
  bool suppressed = false;

  bool operator==(const MatchKey& other) const {
    return severity == other.severity && suppressed == other.suppressed && id == other.id &&
           message == other.message && secondary == other.secondary && category == other.category &&
           subcategory == other.subcategory;
  }
};

struct MatchKeyHash {
  std::size_t operator()(const MatchKey& key) const noexcept {
    std::size_t seed = static_cast<std::size_t>(key.severity) * 2 + (key.suppressed ? 1 : 0);
    for (std::string_view text : {key.id, key.message, key.secondary, key.category, key.subcategory}) {
      seed ^= std::hash<std::string_view>()(text) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
    }
    return seed;
  }
};

using Positions = std::vector<std::size_t>;

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

  // Files the candidate at position. Positions must be added in ascending
  // order; the candidate must outlive the index unchanged but for appends.
  void Add(std::size_t position, const CollapsedAnalysisOutput& issue) {
    const AnalysisOutput& first = FirstRecord(issue);
    const bool table = by_usable_id_ && issue.is_table;
    std::string_view id = first.id;
    if (table) id = usable_ids_.emplace_back(utility_.get_usable_id(first.id));
    for (int layer = 0; layer < Layers(); ++layer) {
      buckets_[table][layer][KeyOf(first, id, layer == 1)].push_back(position);
    }
  }

  // The positions, ascending, of the candidates the record matches: in
  // exact those keyed by exact id, in usable the table candidates keyed by
  // usable id; either may be null. Valid until the next Add.
  void Find(const AnalysisOutput& record, const Positions*& exact, const Positions*& usable) {
    const int layer = options_.compare_secondary && record.secondary_message.empty() ? 1 : 0;
    exact = Lookup(buckets_[0][layer], KeyOf(record, record.id, layer == 1));
    usable = nullptr;
    if (by_usable_id_) {
      record_usable_id_ = utility_.get_usable_id(record.id);
      usable = Lookup(buckets_[1][layer], KeyOf(record, record_usable_id_, layer == 1));
    }
  }

 private:
  using Buckets = std::unordered_map<MatchKey, Positions, MatchKeyHash>;

  int Layers() const { return options_.compare_secondary ? 2 : 1; }

  MatchKey KeyOf(const AnalysisOutput& record, std::string_view id, bool secondary_by_message) const {
    MatchKey key;
    if (options_.compare_id) key.id = id;
    if (options_.compare_severity) key.severity = record.severity;
    if (options_.compare_message) key.message = record.message;
    if (options_.compare_secondary) key.secondary = secondary_by_message ? record.message : record.secondary_message;
    if (options_.compare_suppressed) key.suppressed = record.suppressed;
    if (options_.compare_category) key.category = record.category;
    if (options_.compare_subcategory) key.subcategory = record.subcategory;
    return key;
  }

  static const Positions* Lookup(const Buckets& buckets, const MatchKey& key) {
    const auto found = buckets.find(key);
    return found == buckets.end() ? nullptr : &found->second;
  }

  const Collapser& options_;
  const bool by_usable_id_;
  UtilityFunctions utility_;
  Buckets buckets_[2][2];
  // Usable ids of table candidates; a deque keeps the keys' views valid.
  std::deque<std::string> usable_ids_;
  std::string record_usable_id_;
};

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
  CandidateIndex index(*this);
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out[i]) index.Add(i, *out[i]);
  }

  static const Positions kNone;
  if (records) {
    for (const auto& record : *records) {
      if (!record || (skip_suppressed && record->suppressed)) continue;
      const bool table = MessageTable::IsTable(record->id);
      const std::vector<std::string> row =
          table ? MessageTable::GetRow(record->id, record->message_args) : std::vector<std::string>();

      const Positions* exact = nullptr;
      const Positions* usable = nullptr;
      index.Find(*record, exact, usable);
      if (!exact) exact = &kNone;
      if (!usable) usable = &kNone;

      // The two lists never share a position, and joining one issue does
      // not touch another, so taking them one after the other gives what
      // the walk in out order gives.
      for (const Positions* positions : {exact, usable}) {
        for (std::size_t position : *positions) {
          CollapsedAnalysisOutput& issue = *out[position];
          issue.append(record);
          if (use_tables && issue.is_table && table && issue.table.IsValid()) issue.table.InsertRow(row, record->nodes);
        }
      }

      if (exact->empty() && usable->empty()) {
        auto issue = std::make_shared<CollapsedAnalysisOutput>(COLLAPSED);
        issue->append(record);
        if (table) {
          issue->table = Table(MessageTable::GetHeaders(record->id));
          issue->is_table = true;
          issue->table.InsertRow(row, record->nodes);
        }
        index.Add(out.size(), *issue);
        out.push_back(std::move(issue));
      }
    }
  }

  for (const auto& issue : out) {
    if (issue) issue->table.Sort();
  }
}

}  // namespace qorv::postprocessor
