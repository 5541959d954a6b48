#include "postprocessor/collapse/issue_index.h"

namespace qorv::postprocessor::detail {

namespace {

const UsableIdIndex* active_index = nullptr;
const CollapsedByType* active_map = nullptr;

}  // namespace

UsableIdIndex::UsableIdIndex(const CollapsedByType& map) {
  for (const auto& [key, issues] : map) {
    auto& ids = by_key_[key.to_ulong()];
    for (std::size_t i = 0; i < issues.size(); ++i) {
      if (issues[i]) ids[UsableId(FirstId(*issues[i]))].push_back(i);
    }
  }
}

const std::vector<std::size_t>* UsableIdIndex::Find(const IssueKey& key, const std::string& usable_id) const {
  const auto group = by_key_.find(key.to_ulong());
  if (group == by_key_.end()) return nullptr;
  const auto positions = group->second.find(usable_id);
  return positions == group->second.end() ? nullptr : &positions->second;
}

const UsableIdIndex* UsableIdIndex::Active(const CollapsedByType* map) {
  return map != nullptr && map == active_map ? active_index : nullptr;
}

UsableIdIndex::Scope::Scope(const std::shared_ptr<CollapsedByType>& map)
    : previous_(active_index), previous_map_(active_map) {
  if (!map) return;
  index_ = std::make_unique<UsableIdIndex>(*map);
  map_ = map.get();
  active_index = index_.get();
  active_map = map_;
}

UsableIdIndex::Scope::~Scope() {
  active_index = previous_;
  active_map = previous_map_;
}

}  // namespace qorv::postprocessor::detail
