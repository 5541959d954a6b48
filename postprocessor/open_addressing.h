// The growth step the library's open-addressing tables share. Internal, not
// installed.
//
// Each table keeps its slots in one power-of-two array, probes linearly
// from a slot's stored hash, and grows before it is half full.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace qorv::postprocessor::detail {

// Makes slots size slots long (a power of two) and puts every slot in use
// back where a probe from its hash finds it. Slot has a `hash` member;
// is_free(slot) tells an unused slot, as Slot{} is.
template <typename Slot, typename IsFree>
void Rehash(std::vector<Slot>& slots, std::size_t size, IsFree is_free) {
  std::vector<Slot> old = std::move(slots);
  slots.assign(size, Slot{});
  for (const Slot& slot : old) {
    if (is_free(slot)) continue;
    std::size_t i = slot.hash & (size - 1);
    while (!is_free(slots[i])) i = (i + 1) & (size - 1);
    slots[i] = slot;
  }
}

}  // namespace qorv::postprocessor::detail
