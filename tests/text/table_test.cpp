#include "postprocessor/text/table.h"

#include <gtest/gtest.h>

namespace qorv::postprocessor {
namespace {

using Lines = std::vector<std::string>;

// Rendering of whole tables shows in the golden reports.
TEST(TableTest, ValidOnlyWithNamedColumns) {
  EXPECT_TRUE(Table({"A", "Temperature"}).IsValid());
  EXPECT_FALSE(Table({""}).IsValid());
  Table initial;
  EXPECT_FALSE(initial.IsValid());
  EXPECT_TRUE(initial.empty());
  EXPECT_TRUE(initial.GetTableStrings().empty());
}

TEST(TableTest, EqualCellsMergeTheirNodes) {
  Table table({"DIMM", "Size"});
  EXPECT_FALSE(table.InsertRow({"A1", "16"}, {"n1"}));
  EXPECT_FALSE(table.InsertRow({"A1", "16"}, {"n2", "n1", "n2"}));
  ASSERT_EQ(table.size(), 1u);
  EXPECT_EQ(table.GetRows()[0].GetNodes(), (Lines{"n1", "n2"}));
  EXPECT_EQ(table.GetRows()[0].GetData()[0], "2");

  // A new row keeps its node list as given, repeats included.
  EXPECT_FALSE(table.InsertRow({"B1", "16"}, {"n3", "n3"}));
  EXPECT_EQ(table.GetRows()[1].GetNodes(), (Lines{"n3", "n3"}));

  EXPECT_TRUE(table.InsertRow({"A1", "16", "extra"}, {"n4"}));
  EXPECT_TRUE(table.InsertRow({"C1"}, {"n4"}));
  EXPECT_EQ(table.size(), 2u);
}

TEST(TableTest, SortsByNodeCountThenCellsAsText) {
  Table table({"Value"});
  table.InsertRow({"9"}, {"a", "b"});
  table.InsertRow({"10"}, {"c", "d"});
  table.InsertRow({"zz"}, {"e", "f", "g"});
  table.Sort();
  const auto rows = table.GetRows();
  EXPECT_EQ(rows[0].data, Lines{"zz"});
  EXPECT_EQ(rows[1].data, Lines{"10"});
  EXPECT_EQ(rows[2].data, Lines{"9"});
  EXPECT_FALSE(Table::SortCompare(rows[1], rows[1]));

  // Merging still finds its row after the sort reordered them.
  table.InsertRow({"9"}, {"h"});
  EXPECT_EQ(table.size(), 3u);
  EXPECT_EQ(table.GetRows()[2].GetNodes(), (Lines{"a", "b", "h"}));
}

// A merged row's node string may outgrow its column: no padding then. A
// cell's control characters are shown escaped, its column widened to fit.
TEST(TableTest, ColumnWidths) {
  Table grown({"S"});
  grown.InsertRow({"x"}, {"n1"});
  grown.InsertRow({"x"}, {"longer-node-name"});
  EXPECT_NE(grown.GetTableStrings()[1].back(), ' ');

  Table escaped({"S", "T"});
  escaped.InsertRow({"a\x1b", "b"}, {"n\n1"});
  EXPECT_EQ(escaped.GetTableStrings(), (Lines{"#Nodes S     T Nodes  ", "1      a\\x1b b n\\x0a1 "}));
}

}  // namespace
}  // namespace qorv::postprocessor
