#include "postprocessor/collapse/key_table.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <stdexcept>

namespace qorv::postprocessor::detail {

namespace {

constexpr std::size_t kBlock = std::size_t{1} << 20;

}  // namespace

std::size_t KeyTable::Hash(std::string_view key) { return std::hash<std::string_view>()(key); }

bool KeyTable::Find(std::string_view key, std::size_t hash, Positions& found) const {
  const Entry* entry = table_.Find(hash, Is(key));
  if (entry == nullptr) return false;
  found = {entry->first, entry->more == kNoMore ? nullptr : &more_[entry->more]};
  return true;
}

void KeyTable::Add(std::string_view key, std::size_t position) {
  if (key.size() > std::numeric_limits<std::uint32_t>::max()) throw std::length_error("issue too large to collapse");
  const auto [entry, added] = table_.Insert(Hash(key), Is(key));
  if (added) {
    *entry = {Store(key), static_cast<std::uint32_t>(key.size()), kNoMore, position};
    return;
  }
  if (entry->more == kNoMore) {
    if (more_.size() >= kNoMore) throw std::length_error("too many issues to collapse");
    entry->more = static_cast<std::uint32_t>(more_.size());
    more_.emplace_back();
  }
  more_[entry->more].push_back(position);
}

// In the current block, or a new one.
const char* KeyTable::Store(std::string_view key) {
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

}  // namespace qorv::postprocessor::detail
