// KeyTable: the positions of a collapse's candidate issues by encoded key.
// Internal, not installed.
//
// A key is one contiguous text encoding every field a collapse compares
// (see CandidateIndex). The table copies each key once into a few large
// blocks and files the positions under it, so a lookup reads one slot and,
// only on a hash match, one key: at a million records a node-based map
// spends most of the collapse waiting for memory. Keys are stored without
// the slack of a growing buffer: a run has as many keys as distinct issues.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string_view>
#include <vector>

#include "postprocessor/support/open_table.h"

namespace qorv::postprocessor::detail {

// The positions of the candidates under one key, ascending: the first, and
// those after it (null when there are none; most keys have one candidate).
struct Positions {
  std::size_t first = 0;
  const std::vector<std::size_t>* more = nullptr;
};

class KeyTable {
 public:
  static std::size_t Hash(std::string_view key);

  // A hint that a lookup of a key of this hash follows soon.
  void Prefetch(std::size_t hash) const { table_.Prefetch(hash); }

  // The positions filed under key, whose hash is hash, into found; false
  // when there are none. Valid until the next Add.
  bool Find(std::string_view key, std::size_t hash, Positions& found) const;

  // Files position under key, after the positions already there. Throws
  // std::length_error past four billion keys with several positions.
  void Add(std::string_view key, std::size_t position);

 private:
  static constexpr std::uint32_t kNoMore = std::numeric_limits<std::uint32_t>::max();

  struct Entry {
    const char* key = nullptr;
    std::uint32_t size = 0;
    std::uint32_t more = kNoMore;  // index into more_, or kNoMore
    std::size_t first = 0;
  };

  static auto Is(std::string_view key) {
    return [key](const Entry& entry) { return std::string_view(entry.key, entry.size) == key; };
  }

  // A copy of key that stays where it is, never null.
  const char* Store(std::string_view key);

  OpenTable<Entry> table_;
  std::vector<std::vector<std::size_t>> more_;
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t block_size_ = 0;
  std::size_t block_used_ = 0;
};

}  // namespace qorv::postprocessor::detail
