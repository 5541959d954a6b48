// OpenTable: a hash table in open addressing whose keys live elsewhere.
// Internal, not installed.
//
// The library's large lookups (issue keys, record identities, distinct
// texts) keep their keys in their own compact storage and file a small
// value per key here. A slot holds the key's hash and the value, so a
// lookup reads one slot and asks the caller whether the value is the key
// sought only when the hashes agree. The slots are one power-of-two array,
// probed linearly and grown before it is half full; growing moves values
// but never calls the caller back. Values are found by the hash given at
// insertion: the same key must always come with the same hash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "postprocessor/support/prefetch.h"

namespace qorv::postprocessor::detail {

template <typename Value>
class OpenTable {
 public:
  // The value whose key has this hash and for which matches(value) holds,
  // or null. Valid until the next Insert.
  template <typename Matches>
  const Value* Find(std::size_t hash, Matches&& matches) const {
    if (slots_.empty()) return nullptr;
    const Slot& slot = slots_[SlotOf(Stored(hash), matches)];
    return slot.hash == kFree ? nullptr : &slot.value;
  }
  template <typename Matches>
  Value* Find(std::size_t hash, Matches&& matches) {
    return const_cast<Value*>(static_cast<const OpenTable&>(*this).Find(hash, matches));
  }

  // The value of the key, as Find; when there is none, a new Value{} filed
  // under the hash, for the caller to fill. The bool tells whether the
  // value is new. Valid until the next Insert.
  template <typename Matches>
  std::pair<Value*, bool> Insert(std::size_t hash, Matches&& matches) {
    if ((size_ + 1) * 2 > slots_.size()) Grow(slots_.empty() ? kFirstSize : slots_.size() * 2);
    Slot& slot = slots_[SlotOf(Stored(hash), matches)];
    if (slot.hash != kFree) return {&slot.value, false};
    slot.hash = Stored(hash);
    ++size_;
    return {&slot.value, true};
  }

  // Room for count values without growing.
  void Reserve(std::size_t count) {
    std::size_t size = kFirstSize;
    while (size < count * 2 + 2) size *= 2;
    if (size > slots_.size()) Grow(size);
  }

  std::size_t size() const { return size_; }

  // A hint that a lookup of this hash follows soon: the slot it starts at.
  void Prefetch(std::size_t hash) const {
    if (!slots_.empty()) detail::Prefetch(&slots_[Stored(hash) & (slots_.size() - 1)]);
  }

 private:
  static constexpr std::size_t kFirstSize = 64;
  // A free slot's hash. Stored hashes have their top bit set, which the
  // probe position, taken from the low bits, never sees.
  static constexpr std::size_t kFree = 0;
  static constexpr std::size_t kUsed = std::size_t{1} << (sizeof(std::size_t) * 8 - 1);

  struct Slot {
    std::size_t hash = kFree;
    Value value{};
  };

  static std::size_t Stored(std::size_t hash) { return hash | kUsed; }

  // The slot holding a matching value, or the free slot where it would go.
  // There must be a free slot.
  template <typename Matches>
  std::size_t SlotOf(std::size_t stored, Matches& matches) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = stored & mask;; i = (i + 1) & mask) {
      const Slot& slot = slots_[i];
      if (slot.hash == kFree || (slot.hash == stored && matches(slot.value))) return i;
    }
  }

  void Grow(std::size_t size) {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(size, Slot{});
    for (Slot& slot : old) {
      if (slot.hash == kFree) continue;
      std::size_t i = slot.hash & (size - 1);
      while (slots_[i].hash != kFree) i = (i + 1) & (size - 1);
      slots_[i] = std::move(slot);
    }
  }

  std::vector<Slot> slots_;
  std::size_t size_ = 0;
};

}  // namespace qorv::postprocessor::detail
