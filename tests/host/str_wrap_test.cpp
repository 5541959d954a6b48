#include "postprocessor/host/str.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "tests/support/wrap_check.h"

namespace qorv::str {
namespace {

TEST(WordWrapTest, BreaksAtBlanksAndAfterCommas) {
  EXPECT_EQ(word_wrap("the quick brown fox", 10, ""), "the quick\nbrown fox");
  EXPECT_EQ(word_wrap("aaa bbb ccc ddd", 8, "  "), "aaa bbb\n  ccc\n  ddd");
  EXPECT_EQ(word_wrap("a    b", 3, ""), "a\nb");
  EXPECT_EQ(word_wrap("Nodes down: node[1-4],node7,node9", 20, "  "), "Nodes down:\n  node[1-4],node7,\n  node9");
  EXPECT_EQ(word_wrap("node[1-4],node7,node9 up", 10, ""), "node[1-4],\nnode7,\nnode9 up");
  EXPECT_EQ(space_wrap("node[1-4],node7,node9 up", 10, ""), "node[1-4],node7,node9\nup");
}

TEST(WordWrapTest, KeepsLinesLeadingBlanksAndTrailingNewline) {
  EXPECT_EQ(word_wrap("  alpha beta\n\ngamma delta\n", 8, ""), "  alpha\nbeta\n\ngamma\ndelta\n");
  EXPECT_EQ(space_wrap("  fits  \n", 10, "    "), "  fits  \n");
  EXPECT_EQ(word_wrap("x averyveryverylongword y", 8, ""), "x\naveryveryverylongword\ny");
  EXPECT_EQ(word_wrap("leave me alone", 0, ""), "leave me alone");
  EXPECT_EQ(word_wrap("leave me alone", -3, ""), "leave me alone");
  // An indent wider than the row still gets one word per row.
  EXPECT_EQ(word_wrap("a b c", 2, "    "), "a\n    b\n    c");
}

TEST(WordWrapTest, CountsCharactersNotBytes) {
  EXPECT_EQ(word_wrap("é é é é", 3, ""), "é é\né é");
  EXPECT_EQ(word_wrap("ééééé x", 4, ""), "ééééé\nx");
  EXPECT_EQ(column_wrap("Nœuds: nœud1 nœud2 nœud3 nœud4 nœud5", 30, "", ':', false),
            "Nœuds: nœud1 nœud2 nœud3 nœud4\n       nœud5");
}

TEST(ColumnWrapTest, AlignsUnderTextAfterSeparator) {
  EXPECT_EQ(column_wrap("Nodes: node[1-4],node7,node9,node12 are down", 30, "  ", ':', false),
            "Nodes: node[1-4],node7,node9,\n       node12 are down");
  const std::string text = "Host: n1: disk full on sda1 and sdb2 and sdc3";
  EXPECT_EQ(column_wrap(text, 32, "", ':', false), "Host: n1: disk full on sda1 and\n      sdb2 and sdc3");
  EXPECT_EQ(column_wrap(text, 32, "", ':', true), "Host: n1: disk full on sda1 and\n          sdb2 and sdc3");
  // Each line picks its own column.
  EXPECT_EQ(column_wrap("A: one two three four five six seven\nno separator on this line\n", 28, "  ", ':', false),
            "A: one two three four five\n   six seven\nno separator on this line\n");
}

TEST(ColumnWrapTest, FallsBackToIndentForNarrowColumn) {
  EXPECT_EQ(column_wrap("Host: n1: disk full on sda1 and sdb2 and sdc3", 24, "  ", ':', true),
            "Host: n1: disk full on\n  sda1 and sdb2 and sdc3");
  // 29 characters left is more than 20 but less than a third of 90.
  const std::string label = std::string(59, 'x') + ": ";
  EXPECT_EQ(column_wrap(label + "alpha beta gamma delta epsilon zeta", 90, "  ", ':', false),
            label + "alpha beta gamma delta\n  epsilon zeta");
}

TEST(WrapTest, ManyLinesWithoutSeparator) {
  std::string text;
  for (int i = 0; i < 100000; ++i) text += "node1,node2 is up\n";
  const std::string out = column_wrap(text, 10, "  ", ':', true);
  std::string expected;
  for (int i = 0; i < 100000; ++i) expected += "node1,\n  node2 is\n  up\n";
  EXPECT_TRUE(out == expected);  // no diff of megabytes on failure
}

TEST(WrapTest, RandomTextsKeepWordsAndWidths) {
  const std::vector<std::string> pieces{"a", "node", "é",  "日本", "node[1-4],node7", ",",  ":",
                                        " ", "  ",   "\t", "\n",   "unbreakableword", "x,", "Nodes: "};
  const std::vector<std::string> indents{"", "  ", "    ", "> ", "éé ", std::string(12, ' ')};
  for (unsigned seed = 1; seed <= 400; ++seed) {
    std::mt19937 rng(seed);
    std::string text;
    for (int n = rng() % 120; n > 0; --n) text += pieces[rng() % pieces.size()];
    const int width = 1 + static_cast<int>(rng() % (seed % 4 == 0 ? 90 : 30));
    const std::size_t w = static_cast<std::size_t>(width);
    const std::string indent = indents[rng() % indents.size()];
    const bool after_last = rng() % 2;
    SCOPED_TRACE("seed " + std::to_string(seed) + " width " + std::to_string(width));
    const auto plain = [&](const std::string&) { return indent; };
    const auto column = [&](const std::string& line) {
      return testing::ColumnContinuation(line, w, indent, ':', after_last);
    };
    EXPECT_EQ(testing::CheckWrap(text, word_wrap(text, width, indent), w, true, plain), "");
    EXPECT_EQ(testing::CheckWrap(text, space_wrap(text, width, indent), w, false, plain), "");
    EXPECT_EQ(testing::CheckWrap(text, column_wrap(text, width, indent, ':', after_last), w, true, column), "");
  }
}

}  // namespace
}  // namespace qorv::str
