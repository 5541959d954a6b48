#include "postprocessor/collapse/candidate_index.h"

#include <cstdint>

#include "postprocessor/host/str.h"

namespace qorv::postprocessor::detail {

namespace {

// Appends one field to an encoded key: its length (seven bits a byte, the
// high bit set on all but the last), then its bytes, so two keys are equal
// exactly when every field is.
void AppendField(std::string& key, std::string_view text) {
  std::size_t size = text.size();
  for (; size >= 0x80; size >>= 7) key.push_back(static_cast<char>((size & 0x7F) | 0x80));
  key.push_back(static_cast<char>(size));
  key.append(text);
}

}  // namespace

CandidateIndex::CandidateIndex(const Collapser& options)
    : options_(options), by_usable_id_(options.compare_id && options.use_tables) {}

void CandidateIndex::Add(std::size_t position, const analysis::AnalysisOutput& first, bool is_table) {
  candidates_.push_back({position, &first, by_usable_id_ && is_table});
  for (int layer = 0; layer < Layers(); ++layer) {
    if (layer_built_[layer]) File(candidates_.back(), layer);
  }
}

void CandidateIndex::Prepare(const analysis::AnalysisOutput& record, Probe& probe) const {
  probe.layer = options_.compare_secondary && record.secondary_message.empty() ? 1 : 0;
  KeyOf(record, record.id, probe.layer == 1, probe.key);
  probe.hash = KeyTable::Hash(probe.key);
  // A layer not yet keyed has no slots to announce.
  if (layer_built_[probe.layer]) keys_[0][probe.layer].Prefetch(probe.hash);
  if (!by_usable_id_) return;
  const std::string_view usable_id = str::usable_id(record.id);
  probe.usable_is_key = usable_id.size() == record.id.size();
  probe.usable_hash = probe.hash;
  if (!probe.usable_is_key) {
    KeyOf(record, usable_id, probe.layer == 1, probe.usable_key);
    probe.usable_hash = KeyTable::Hash(probe.usable_key);
  }
  if (layer_built_[probe.layer]) keys_[1][probe.layer].Prefetch(probe.usable_hash);
}

CandidateIndex::Matches CandidateIndex::Find(const Probe& probe) {
  const int layer = probe.layer;
  if (!layer_built_[layer]) {
    for (const Candidate& candidate : candidates_) File(candidate, layer);
    layer_built_[layer] = true;
  }
  Matches found;
  found.exact_found = keys_[0][layer].Find(probe.key, probe.hash, found.exact);
  found.usable_found = by_usable_id_ && keys_[1][layer].Find(probe.usable_is_key ? probe.key : probe.usable_key,
                                                             probe.usable_hash, found.usable);
  return found;
}

void CandidateIndex::File(const Candidate& candidate, int layer) {
  const std::string& id = candidate.first->id;
  const std::string_view keyed_id = candidate.table ? str::usable_id(id) : std::string_view(id);
  KeyOf(*candidate.first, keyed_id, layer == 1, key_);
  keys_[candidate.table][layer].Add(key_, candidate.position);
}

void CandidateIndex::KeyOf(const analysis::AnalysisOutput& record, std::string_view id, bool secondary_by_message,
                           std::string& key) const {
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

}  // namespace qorv::postprocessor::detail
