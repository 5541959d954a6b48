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

#include "postprocessor/support/open_table.h"

namespace qorv::postprocessor::detail {

// Distinct texts numbered in order of first appearance. Their bytes are
// copied into one buffer, so a lookup compares against that buffer rather
// than against a text in another record, which would be one more cache
// miss, and finding a text allocates nothing.
class TextNumbers {
  static std::size_t Hash(std::string_view text) { return std::hash<std::string_view>()(text); }
  std::string_view Text(std::uint32_t number) const;

  // Whether a number is text's. Defined ahead of its uses, which need its
  // deduced type.
  auto Is(std::string_view text) const {
    return [this, text](std::uint32_t number) { return Text(number) == text; };
  }

 public:
  std::uint32_t Number(std::string_view text) {
    const auto [number, added] = numbers_.Insert(Hash(text), Is(text));
    if (added) {
      *number = static_cast<std::uint32_t>(offsets_.size());
      offsets_.push_back(bytes_.size());
      bytes_.append(text);
    }
    return *number;
  }

  // Whether text has a number.
  bool Contains(std::string_view text) const { return numbers_.Find(Hash(text), Is(text)) != nullptr; }

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
  OpenTable<std::uint32_t> numbers_;  // by the hash of their text
  std::vector<std::size_t> offsets_;  // of each text in bytes_, by number
  std::string bytes_;
};

inline std::string_view TextNumbers::Text(std::uint32_t number) const {
  const std::size_t end = number + 1 < offsets_.size() ? offsets_[number + 1] : bytes_.size();
  return std::string_view(bytes_).substr(offsets_[number], end - offsets_[number]);
}

}  // namespace qorv::postprocessor::detail
