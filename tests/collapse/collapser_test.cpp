#include "postprocessor/collapse/collapser.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "postprocessor/intake/message_table.h"
#include "postprocessor/intake/message_translator.h"
#include "tests/collapse/records.h"
#include "tests/intake/catalog_fixture.h"

namespace qorv::postprocessor {
namespace {

using Record = std::shared_ptr<analysis::AnalysisOutput>;
using Issue = std::shared_ptr<CollapsedAnalysisOutput>;
using Rows = std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>>;  // cells, nodes

Record Rec(std::string id, std::vector<std::string> nodes, std::string message = "m", MessageArgs args = {}) {
  auto record = qorv::testing::MakeRecord(std::move(id), 0, std::move(nodes));
  record->message = std::move(message);  // "" stays empty
  record->message_args = std::move(args);
  return record;
}

Rows RowsOf(const Issue& issue) {
  Rows rows;
  for (const auto& row : issue->table.rows) rows.emplace_back(row.data, row.nodes);
  return rows;
}

// Cells "{0}" and "{1}" show an issue's first and second argument. "disk"
// is a two-column table, "bare" one without columns, "blank" an invalid one.
class CollapserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.Write("cells.xml", qorv::testing::CatalogXml({{"cell0", "{0}"}, {"cell1", "{1}"}}));
    auto attributes = std::make_shared<FWDAttributes>();
    qorv::testing::AddCatalog(*attributes, "fwd", dir_.path().string() + "/", "cells.xml");
    MessageTranslator::LoadCatalogs(attributes);
    MessageTable::table_map = {
        {"disk", {{"Mount", "cell0"}, {"Use", "cell1"}}}, {"bare", {}}, {"blank", {{"", "cell0"}}}};
  }
  void TearDown() override { MessageTable::table_map.clear(); }

  static std::vector<Issue> Run(Collapser collapser, std::vector<Record> records, std::vector<Issue> out = {}) {
    collapser.Collapse(std::make_shared<std::vector<Record>>(std::move(records)), out);
    return out;
  }

  qorv::testing::TempDir dir_;
};

TEST_F(CollapserTest, ARecordJoinsEveryMatchingIssue) {
  // With every option off the first record makes the issue all others join.
  auto odd = Rec("other#1", {"n2"}, "different");
  odd->suppressed = true;
  const std::vector<Record> records{Rec("a", {"n1"}), odd, Rec("disk", {"n3"}, "m", {"/", 1})};
  auto out = Run(Collapser(), records);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0]->issues, records);
  EXPECT_EQ(out[0]->type, COLLAPSED);
  EXPECT_EQ(out[0]->nodes, (std::set<std::string>{"n1", "n2", "n3"}));
  EXPECT_FALSE(out[0]->is_table);

  // Issues already in out all take part, duplicates included.
  Collapser by_id;
  by_id.compare_id = true;
  out = Run(by_id, {Rec("a", {"n4"})}, {out[0], Run(Collapser(), {Rec("b", {"n0"})})[0], out[0]});
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0]->issues.size(), 5u);
  EXPECT_EQ(out[1]->issues.size(), 1u);

  // No record list leaves out as it was.
  out.push_back(nullptr);
  const auto before = out;
  by_id.Collapse(nullptr, out);
  EXPECT_EQ(out, before);
}

TEST_F(CollapserTest, TableRecordsMergeRowsByCells) {
  Collapser tables;
  tables.compare_id = tables.compare_message = tables.use_tables = true;
  const auto out = Run(tables, {Rec("disk#sda", {"n1"}, "full", {"/", 90}), Rec("disk#sdb", {"n2"}, "full", {"/", 90}),
                                Rec("disk", {"n3"}, "full", {"/scratch", 50}), Rec("disk", {"n4"}, "other", {"/", 90}),
                                Rec("plain#1", {"n5"}), Rec("plain#2", {"n6"})});
  ASSERT_EQ(out.size(), 4u);
  // Sub-ids of a table message join one issue; the rows sort widest first.
  EXPECT_TRUE(out[0]->is_table);
  EXPECT_EQ(out[0]->issues.size(), 3u);
  EXPECT_EQ(out[0]->table.headers, (std::vector<std::string>{"#Nodes", "Mount", "Use", "Nodes"}));
  EXPECT_EQ(RowsOf(out[0]), (Rows{{{"/", "90"}, {"n1", "n2"}}, {{"/scratch", "50"}, {"n3"}}}));
  // Another message text keeps its own table.
  EXPECT_EQ(RowsOf(out[1]), (Rows{{{"/", "90"}, {"n4"}}}));
  // Sub-ids of an ordinary message stay apart.
  EXPECT_FALSE(out[2]->is_table);
  EXPECT_EQ(out[3]->get_id(), "plain#2");
}

// The walk the indexed collapse must reproduce, written as plainly as the
// rules read: every record against every issue of out.
struct LiteralCollapser {
  const Collapser& options;

  bool Compare(const Record& record, const Issue& issue) const {
    if (!record || !issue) return false;
    const analysis::AnalysisOutput none;
    const auto& first = issue->issues.empty() || !issue->issues.front() ? none : *issue->issues.front();
    const UtilityFunctions utility;
    const bool by_usable_id = options.use_tables && issue->is_table;
    if (options.compare_id &&
        (by_usable_id ? utility.get_usable_id(record->id) != utility.get_usable_id(first.id) : record->id != first.id))
      return false;
    if (options.compare_severity && record->severity != first.severity) return false;
    if (options.compare_message && record->message != first.message) return false;
    if (options.compare_secondary) {
      std::string mine = record->secondary_message, theirs = first.secondary_message;
      if (mine.empty()) mine = record->message, theirs = first.message;
      if (mine != theirs) return false;
    }
    if (options.compare_suppressed && record->suppressed != first.suppressed) return false;
    if (options.compare_category && record->category != first.category) return false;
    return !options.compare_subcategory || record->subcategory == first.subcategory;
  }

  void Collapse(const std::vector<Record>& records, std::vector<Issue>& out) const {
    for (const auto& record : records) {
      if (!record || (options.skip_suppressed && record->suppressed)) continue;
      const bool table = MessageTable::IsTable(record->id);
      const auto row = table ? MessageTable::GetRow(record->id, record->message_args) : std::vector<std::string>();
      bool matched = false;
      for (const auto& issue : out) {
        if (!Compare(record, issue)) continue;
        matched = true;
        issue->append(record);
        if (options.use_tables && issue->is_table && issue->table.IsValid() && table) {
          issue->table.InsertRow(row, record->nodes);
        }
      }
      if (matched) continue;
      auto issue = std::make_shared<CollapsedAnalysisOutput>(COLLAPSED);
      issue->append(record);
      if (table) {
        issue->table = Table(MessageTable::GetHeaders(record->id));
        issue->is_table = true;
        issue->table.InsertRow(row, record->nodes);
      }
      out.push_back(issue);
    }
    for (const auto& issue : out) {
      if (issue) issue->table.Sort();
    }
  }
};

std::string Describe(const std::vector<Issue>& out) {
  std::ostringstream text;
  for (const auto& issue : out) {
    if (!issue) {
      text << "null\n";
      continue;
    }
    text << "type " << issue->type << " table " << issue->is_table << " records";
    for (const auto& record : issue->issues) text << " " << record.get();
    text << "\n  nodes";
    for (const auto& node : issue->nodes) text << " " << node;
    text << "\n  columns";
    for (const auto& header : issue->table.headers) text << " [" << header << "]";
    for (int width : issue->table.widths) text << " " << width;
    for (const auto& row : issue->table.rows) {
      text << "\n  row";
      for (const auto& cell : row.data) text << " [" << cell << "]";
      for (const auto& node : row.nodes) text << " " << node;
    }
    text << "\n";
  }
  return text.str();
}

TEST_F(CollapserTest, IndexedCollapseMatchesTheLiteralWalkUnderEveryOptionSet) {
  MessageTable::table_map["wide"] = {{"A", "cell0"}, {"B", "cell1"}};
  std::mt19937 random(20240611);
  auto pick = [&](std::initializer_list<const char*> choices) {
    return std::string(choices.begin()[random() % choices.size()]);
  };
  auto record = [&]() -> Record {
    if (random() % 25 == 0) return nullptr;
    auto r = Rec(pick({"a", "a#1", "a#2", "b", "disk", "disk#x", "wide#y", "bare", "blank#z", "#q", ""}),
                 {"n" + std::to_string(random() % 5)}, pick({"", "m1", "m2"}), {pick({"x", "y"}), random() % 2});
    if (random() % 3 == 0) r->nodes.push_back("n" + std::to_string(random() % 5));
    r->secondary_message = pick({"", "", "s1", "m1"});
    r->severity = static_cast<int>(random() % 3) * 40;
    r->suppressed = random() % 5 == 0;
    r->category = pick({"", "C1", "C2"});
    r->subcategory = pick({"", "r1"});
    return r;
  };

  for (unsigned combination = 0; combination < 512; ++combination) {
    Collapser options;
    bool* flags[] = {&options.compare_id,          &options.compare_severity,   &options.compare_message,
                     &options.compare_secondary,   &options.compare_suppressed, &options.compare_category,
                     &options.compare_subcategory, &options.skip_suppressed,    &options.use_tables};
    for (unsigned bit = 0; bit < 9; ++bit) *flags[bit] = (combination >> bit) & 1U;

    for (int round = 0; round < 8; ++round) {
      // out before the call: issues built as a collapse builds them, some
      // repeating an earlier first record, some with the other is_table,
      // some without records, some null.
      std::vector<Issue> prototypes;
      for (int i = static_cast<int>(random() % 8); i > 0; --i) {
        const unsigned kind = random() % 6;
        if (kind == 0) {
          prototypes.push_back(nullptr);
        } else if (kind == 1) {
          prototypes.push_back(std::make_shared<CollapsedAnalysisOutput>(OBSERVATION));
          prototypes.back()->is_table = random() % 2;
        } else {
          std::vector<Issue> made;
          const Record first =
              kind == 2 && !prototypes.empty() && prototypes.back() && !prototypes.back()->issues.empty()
                  ? prototypes.back()->issues.front()
                  : record();
          if (first) LiteralCollapser{Collapser()}.Collapse({first}, made);
          if (made.empty()) continue;
          const Issue& issue = made.front();
          // Unsorted rows and, for some, the other is_table: issues of an
          // earlier collapse under other table definitions.
          for (int row = static_cast<int>(random() % 3); row > 0 && issue->table.IsValid(); --row) {
            issue->table.InsertRow(MessageTable::GetRow(issue->get_id(), {pick({"x", "y", "z"}), random() % 2}),
                                   {"n" + std::to_string(random() % 5)});
          }
          if (kind >= 3) issue->is_table = !issue->is_table;
          prototypes.push_back(issue);
        }
      }
      // Some records repeat the one before on another node, as in a sorted
      // list, and some repeat it after an issue was opened in between. Once
      // under two option sets (id, severity, message and category, with and
      // without secondary), enough distinct issues that the index grows
      // several times.
      const bool many = round == 0 && (combination == 39 || combination == 47);
      std::vector<Record> records;
      for (int i = many ? 3000 : static_cast<int>(random() % 30); i > 0; --i) {
        const unsigned repeat = random() % 4;
        const std::size_t back = repeat == 1 ? 1 : 3;
        if (repeat < 2 && records.size() >= back && records[records.size() - back]) {
          auto copy = std::make_shared<analysis::AnalysisOutput>(*records[records.size() - back]);
          copy->nodes = {"n" + std::to_string(random() % 5)};
          records.push_back(copy);
        } else {
          records.push_back(record());
        }
      }

      std::vector<Issue> expected, actual;
      for (const auto& prototype : prototypes) {
        expected.push_back(prototype ? std::make_shared<CollapsedAnalysisOutput>(*prototype) : nullptr);
        actual.push_back(prototype ? std::make_shared<CollapsedAnalysisOutput>(*prototype) : nullptr);
      }
      const LiteralCollapser literal{options};
      literal.Collapse(records, expected);
      options.Collapse(std::make_shared<std::vector<Record>>(records), actual);
      ASSERT_EQ(Describe(actual), Describe(expected)) << "options " << combination << " round " << round;
      ASSERT_TRUE(!many || actual.size() > 200) << actual.size() << " issues";

      for (const auto& r : records) {
        for (const auto& issue : actual) {
          ASSERT_EQ(options.Compare(r, issue), literal.Compare(r, issue)) << "options " << combination;
        }
      }
    }
  }
}

}  // namespace
}  // namespace qorv::postprocessor
