// The distinct values of a text field over many records (sort criteria,
// node names). Internal, not installed.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "postprocessor/open_addressing.h"

namespace qorv::postprocessor::detail {

// Distinct texts numbered in order of first appearance, in open
// addressing. Their bytes are copied into one buffer, so a lookup compares
// against that buffer rather than against a text in another record, which
// would be one more cache miss, and finding a text allocates nothing.
class TextNumbers {
 public:
  std::uint32_t Number(std::string_view text) {
    if ((offsets_.size() + 1) * 2 > slots_.size()) Grow();
    const std::size_t hash = std::hash<std::string_view>()(text);
    Slot& slot = slots_[SlotOf(text, hash)];
    if (slot.number == kFree) {
      slot = {hash, static_cast<std::uint32_t>(offsets_.size())};
      offsets_.push_back(bytes_.size());
      bytes_.append(text);
    }
    return slot.number;
  }

  // Whether text has a number.
  bool Contains(std::string_view text) const {
    return !slots_.empty() && slots_[SlotOf(text, std::hash<std::string_view>()(text))].number != kFree;
  }

  // Each number's rank among the texts in ascending order.
  std::vector<std::uint32_t> Ranks() const {
    std::vector<std::uint32_t> order(offsets_.size());
    for (std::uint32_t n = 0; n < order.size(); ++n) order[n] = n;
    std::sort(order.begin(), order.end(), [this](std::uint32_t a, std::uint32_t b) { return Text(a) < Text(b); });
    std::vector<std::uint32_t> rank_of(order.size());
    for (std::uint32_t r = 0; r < order.size(); ++r) rank_of[order[r]] = r;
    return rank_of;
  }

  // The distinct texts in ascending order, valid until the next Number.
  std::vector<std::string_view> Sorted() const {
    std::vector<std::string_view> texts;
    texts.reserve(offsets_.size());
    for (std::uint32_t n = 0; n < offsets_.size(); ++n) texts.push_back(Text(n));
    std::sort(texts.begin(), texts.end());
    return texts;
  }

  std::size_t size() const { return offsets_.size(); }

 private:
  static constexpr std::uint32_t kFree = UINT32_MAX;
  struct Slot {
    std::size_t hash = 0;
    std::uint32_t number = kFree;
  };

  // The slot of text, whose hash is hash, or the free slot where it would
  // go. There must be slots, one of them free.
  std::size_t SlotOf(std::string_view text, std::size_t hash) const {
    for (std::size_t i = hash & (slots_.size() - 1);; i = (i + 1) & (slots_.size() - 1)) {
      const Slot& slot = slots_[i];
      if (slot.number == kFree || (slot.hash == hash && Text(slot.number) == text)) return i;
    }
  }

  std::string_view Text(std::uint32_t number) const {
    const std::size_t end = number + 1 < offsets_.size() ? offsets_[number + 1] : bytes_.size();
    return std::string_view(bytes_).substr(offsets_[number], end - offsets_[number]);
  }

  void Grow() {
    Rehash(slots_, slots_.empty() ? 64 : slots_.size() * 2, [](const Slot& slot) { return slot.number == kFree; });
  }

  std::vector<Slot> slots_;
  std::vector<std::size_t> offsets_;  // of each text in bytes_, by number
  std::string bytes_;
};

}  // namespace qorv::postprocessor::detail
