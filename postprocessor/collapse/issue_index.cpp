#include "postprocessor/collapse/issue_index.h"

namespace qorv::postprocessor::detail {

UsableIdIndex::UsableIdIndex(const CollapsedByType& map) {
  for (const auto& [key, issues] : map) {
    auto& ids = by_key_[key.to_ulong()];
    for (std::size_t i = 0; i < issues.size(); ++i) {
      if (issues[i]) ids[str::usable_id(FirstId(*issues[i]))].push_back(i);
    }
  }
}

const std::vector<std::size_t>* UsableIdIndex::Find(const IssueKey& key, const std::string& usable_id) const {
  const auto group = by_key_.find(key.to_ulong());
  if (group == by_key_.end()) return nullptr;
  const auto positions = group->second.find(usable_id);
  return positions == group->second.end() ? nullptr : &positions->second;
}

}  // namespace qorv::postprocessor::detail
