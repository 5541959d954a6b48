#include "postprocessor/intake/issue_processor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>

#include "postprocessor/postprocessor.h"
#include "tests/intake/catalog_fixture.h"

namespace qorv::postprocessor {
namespace {

using qorv::testing::AddCatalog;
using qorv::testing::CatalogXml;
using qorv::testing::TempDir;
using Record = std::shared_ptr<analysis::AnalysisOutput>;

Record Make(std::string id, int severity, std::vector<std::string> nodes, int sort_value = 0) {
  auto record = std::make_shared<analysis::AnalysisOutput>();
  record->id = std::move(id);
  record->severity = severity;
  record->nodes = std::move(nodes);
  record->sort_value = sort_value;
  return record;
}

std::vector<std::string> Ids(const IssueList& list) {
  std::vector<std::string> ids;
  for (const auto& record : list) ids.push_back(record->id + "@" + (record->nodes.empty() ? "" : record->nodes[0]));
  return ids;
}

class IssueProcessorTest : public ::testing::Test {
 protected:
  IssueProcessorTest() : config_(std::make_shared<Config>()) {
    dir_.Write("messages.xml", CatalogXml({{"mem-low", "Low memory on {0}"},
                                           {"mem-low-fix", "Reboot {0}"},
                                           {"detail", "Only {0} MiB"},
                                           {"report", "Tested {0}"}}));
    AddCatalog(*config_->fwd_attributes, "fwd", dir_.path().string() + "/", "messages.xml");
  }
  IssueList& Issues() { return config_->issue_lists[Config::ISSUES]; }

  TempDir dir_;
  std::shared_ptr<Config> config_;
};

TEST_F(IssueProcessorTest, TranslatesTextsAndSetsCategoriesByUsableId) {
  config_->category_map = {{"mem-low", "PERFORMANCE"}};
  auto record = Make("mem-low#dimm", 80, {"n1"});
  record->message_args = {"n1"};
  record->secondary_id = "detail";
  record->secondary_args = {512};
  record->remedy_id = "mem-low-fix";
  record->remedy_args = {"n1"};
  auto untouched = Make("no-such-id", 10, {"n2"});
  untouched->remedy = "kept remedy";
  untouched->secondary_message = "kept secondary";
  config_->issue_lists[Config::DIAGNOSES] = {record, untouched};

  process_issues(config_);
  EXPECT_EQ(record->message, "Low memory on n1");
  EXPECT_EQ(record->secondary_message, "Only 512 MiB");
  EXPECT_EQ(record->remedy, "Reboot n1");
  EXPECT_EQ(untouched->message, "no-such-id");
  EXPECT_EQ(untouched->remedy, "kept remedy");
  EXPECT_EQ(untouched->secondary_message, "kept secondary");
  EXPECT_EQ(record->category, "PERFORMANCE");
  EXPECT_EQ(untouched->category, "FUNCTIONALITY");
}

TEST_F(IssueProcessorTest, IncludeNodesFilterEveryList) {
  config_->include_nodes = {"n2", "n9"};
  for (auto& list : config_->issue_lists) {
    list = {Make("a", 10, {"n1"}), Make("b", 10, {"n1", "n2"}), Make("c", 10, {}), Make("d", 10, {"n9"})};
  }
  process_issues(config_);
  for (const auto& list : config_->issue_lists) EXPECT_EQ(Ids(list), (std::vector<std::string>{"b@n1", "d@n9"}));

  config_->include_nodes.clear();
  Issues().push_back(Make("e", 10, {}));
  Issues().push_back(nullptr);
  process_issues(config_);
  EXPECT_EQ(Issues().size(), 3u);
}

// Without criteria: severity, then id, then first node. Configured criteria
// get the id appended when they lack it.
TEST_F(IssueProcessorTest, DefaultAndConfiguredOrder) {
  Issues() = {Make("b", 50, {"n2"}), Make("a", 50, {"n3"}), Make("b", 50, {"n1"}), Make("z", 90, {"n9"}),
              Make("b", 50, {})};
  process_issues(config_);
  EXPECT_EQ(Ids(Issues()), (std::vector<std::string>{"z@n9", "a@n3", "b@", "b@n1", "b@n2"}));
  EXPECT_TRUE(config_->sorting_criteria.empty());  // the defaults stay in the processor

  config_->sorting_criteria = {Sorting(false, Sorting::SEVERITY)};
  Issues() = {Make("b", 10, {"n1"}), Make("a", 10, {"n2"}), Make("c", 20, {"n3"})};
  process_issues(config_);
  ASSERT_EQ(IssueProcessor::sorting_criteria.size(), 2u);
  EXPECT_EQ(IssueProcessor::sorting_criteria[1].field, Sorting::ID);
  EXPECT_TRUE(IssueProcessor::sorting_criteria[1].ascending);
  EXPECT_EQ(Ids(Issues()), (std::vector<std::string>{"c@n3", "a@n2", "b@n1"}));

  config_->sorting_criteria = {Sorting(false, Sorting::ID)};
  process_issues(config_);
  EXPECT_EQ(IssueProcessor::sorting_criteria.size(), 1u);
  EXPECT_EQ(Ids(Issues()), (std::vector<std::string>{"c@n3", "b@n1", "a@n2"}));

  config_->sorting_criteria = {Sorting(true, Sorting::SORT_VALUE), Sorting(true, Sorting::ID)};
  Issues() = {Make("a", 0, {"n"}, 3), Make("b", 0, {"n"}, -1), Make("c", 0, {"n"}, 3)};
  process_issues(config_);
  EXPECT_EQ(Ids(Issues()), (std::vector<std::string>{"b@n", "a@n", "c@n"}));
}

// The sort must leave records exactly where a stable sort with Compare
// does: equal issues stay in the host's order, which reports print.
TEST(IssueProcessorSort, SameOrderAsStableSortWithCompare) {
  const std::vector<std::vector<Sorting>> criteria_sets = {
      {Sorting(false, Sorting::SEVERITY), Sorting(true, Sorting::ID), Sorting(true, Sorting::NODE)},
      {Sorting(true, Sorting::NODE), Sorting(false, Sorting::ID)},
      {Sorting(false, Sorting::SORT_VALUE), Sorting(true, Sorting::ID), Sorting(false, Sorting::SORT_VALUE)},
      {Sorting(true, Sorting::SEVERITY), Sorting(static_cast<bool>(1), static_cast<Sorting::FIELD>(7)),
       Sorting(true, Sorting::ID)},
      {},
  };
  std::mt19937 random(7);
  const std::vector<std::string> texts = {"", "a", "ab", "a#1", "b", "\xff", "B", "node10", "node9"};
  IssueList records;
  // Thousands of node names make keys wider than one pass of the sort.
  for (int i = 0; i < 5000; ++i) {
    std::vector<std::string> nodes;
    if (random() % 5 != 0) {
      nodes.push_back(random() % 2 ? texts[random() % texts.size()] : "n" + std::to_string(random() % 3000));
    }
    const int sort_value = i % 3 == 0 ? INT32_MIN : static_cast<int>(random() % 5) - 2;
    records.push_back(Make(texts[random() % texts.size()], static_cast<int>(random() % 4) * 30, nodes, sort_value));
  }
  for (const auto& criteria : criteria_sets) {
    IssueProcessor::sorting_criteria = criteria;
    for (std::size_t size : {0, 1, 2, 17, 400, 5000}) {
      IssueList sorted(records.begin(), records.begin() + static_cast<long>(size));
      IssueList expected = sorted;
      std::stable_sort(expected.begin(), expected.end(), IssueProcessor::Compare);
      IssueProcessor::SortIssues(sorted);
      EXPECT_EQ(sorted, expected) << criteria.size() << " criteria, " << size << " records";
    }
  }
  // A list a host or an extension left empty entries in sorts too: the
  // empty entries go last.
  IssueProcessor::sorting_criteria = criteria_sets.front();
  IssueList with_empty = {nullptr, records[0], nullptr, records[1], records[2]};
  IssueProcessor::SortIssues(with_empty);
  EXPECT_EQ(with_empty[3], nullptr);
  EXPECT_EQ(with_empty[4], nullptr);
  EXPECT_TRUE(std::is_sorted(with_empty.begin(), with_empty.begin() + 3, IssueProcessor::Compare));
}

TEST_F(IssueProcessorTest, ReportMessagesMergeByText) {
  config_->report_messages["tested"] = {
      {"report", {"all"}, {"n1", "n2"}, ""}, {"report", {"all"}, {"n3"}, ""}, {"report", {"some"}, {"n4"}, ""}};
  config_->report_messages["empty"] = {};
  PostprocessorExtensionData data;
  data.reports = std::make_shared<ReportMap>();
  (*data.reports)["stale"] = {};
  IssueProcessor::ProcessIssues(config_, data);

  const ReportMap expected = {
      {"empty", {}},
      {"tested", {{"Tested all", {"n1", "n2", "n3"}}, {"Tested some", {"n4"}}}},
  };
  EXPECT_EQ(*data.reports, expected);
  EXPECT_EQ(config_->report_messages["tested"][2].message, "Tested some");
}

TEST_F(IssueProcessorTest, CatalogueFailureLeavesTheListsUnprocessed) {
  dir_.Write("messages.xml", "<message-catalog><message id=\"x\">{0</message></message-catalog>");
  Issues() = {Make("mem-low", 10, {"n1"})};
  EXPECT_THROW(process_issues(config_), std::runtime_error);
  EXPECT_EQ(Issues()[0]->message, "");
  EXPECT_EQ(Issues()[0]->category, "");
}

}  // namespace
}  // namespace qorv::postprocessor
