// The open-addressing table against a standard map, and the distinct-text
// numbering built on it.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "postprocessor/support/open_table.h"
#include "postprocessor/support/text_numbers.h"

namespace {

using qorv::postprocessor::detail::OpenTable;
using qorv::postprocessor::detail::TextNumbers;

// Keys are ints kept by the test; the table files their index. Each hash
// function stresses the probing differently: all keys colliding, hashes
// that differ only in the top bit the table reserves, and spread ones.
TEST(OpenTableTest, AgreesWithAStandardMapUnderAnyHash) {
  const std::vector<std::pair<const char*, std::size_t (*)(int)>> hashes = {
      {"colliding", [](int) -> std::size_t { return 7; }},
      {"top bit only", [](int key) -> std::size_t { return static_cast<std::size_t>(key & 1) << 63; }},
      {"spread", [](int key) -> std::size_t { return std::hash<int>()(key) * 0x9e3779b97f4a7c15ULL; }},
  };
  for (const auto& [name, hash] : hashes) {
    SCOPED_TRACE(name);
    OpenTable<int> table;
    std::unordered_map<int, int> expected;
    std::mt19937 random(1);
    const int count = name == std::string("colliding") ? 300 : 5000;
    for (int step = 0; step < count * 2; ++step) {
      const int key = static_cast<int>(random() % count);
      const auto is = [key](int value) { return value == key; };
      const auto [value, added] = table.Insert(hash(key), is);
      ASSERT_EQ(added, expected.count(key) == 0);
      if (added) *value = key;
      expected.emplace(key, key);
      ASSERT_EQ(*value, key);
    }
    EXPECT_EQ(table.size(), expected.size());
    for (int key = 0; key < count; ++key) {
      const int* found = table.Find(hash(key), [key](int value) { return value == key; });
      EXPECT_EQ(found != nullptr, expected.count(key) == 1) << key;
    }
  }
  const OpenTable<int> empty;
  EXPECT_EQ(empty.Find(0, [](int) { return true; }), nullptr);
  empty.Prefetch(0);
}

TEST(OpenTableTest, TextNumbersCountDistinctTextsAndRankThem) {
  TextNumbers texts;
  EXPECT_FALSE(texts.Contains(""));
  for (const char* text : {"b", "", "a", "b", "ab", "", "a"}) texts.Number(text);
  EXPECT_EQ(texts.size(), 4u);
  EXPECT_EQ(texts.Number("b"), 0u);
  EXPECT_TRUE(texts.Contains(""));
  EXPECT_FALSE(texts.Contains("c"));
  EXPECT_EQ(texts.Ranks(), (std::vector<std::uint32_t>{3, 0, 1, 2}));  // b, "", a, ab
  EXPECT_EQ(texts.Sorted(), (std::vector<std::string_view>{"", "a", "ab", "b"}));
}

}  // namespace
