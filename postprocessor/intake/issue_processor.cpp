#include "postprocessor/intake/issue_processor.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "postprocessor/support/text_numbers.h"

namespace qorv::postprocessor {

std::vector<std::string> IssueProcessor::include_nodes;
std::vector<Sorting> IssueProcessor::sorting_criteria;
std::unordered_map<std::string, std::string> IssueProcessor::category_map;
MessageTranslator IssueProcessor::translator;
UtilityFunctions IssueProcessor::functions;

namespace {

const std::string kNoNode;

const std::string& FirstNode(const analysis::AnalysisOutput& issue) {
  return issue.nodes.empty() ? kNoNode : issue.nodes.front();
}

// -1, 0 or 1 as a's field value is below, equal to or above b's; 0 for an
// unknown field, which the comparison skips.
int CompareField(Sorting::FIELD field, const analysis::AnalysisOutput& a, const analysis::AnalysisOutput& b) {
  auto order = [](const auto& x, const auto& y) { return x < y ? -1 : (y < x ? 1 : 0); };
  switch (field) {
    case Sorting::SORT_VALUE: return order(a.sort_value, b.sort_value);
    case Sorting::ID: return a.id.compare(b.id);
    case Sorting::NODE: return FirstNode(a).compare(FirstNode(b));
    case Sorting::SEVERITY: return order(a.severity, b.severity);
  }
  return 0;
}

// Bits needed for the values 0..largest.
int BitWidth(std::uint64_t largest) {
  int bits = 0;
  while (largest >> bits) ++bits;
  return bits;
}

using detail::TextNumbers;
using SortKey = std::pair<std::uint64_t, std::uint32_t>;  // packed ranks, position in the list

// Each record's criteria folded into one integer whose order is Compare's:
// per criterion the record's value becomes its rank among the values of
// the list (reversed for a descending criterion), and the ranks are packed
// most significant criterion first. Integer comparisons of these keys give
// exactly Compare's answers, and sorting them touches no record. Returns
// the number of bits the keys use, or -1, filling nothing, when the ranks
// need more than 64 bits.
int SortKeys(const IssueProcessor::IssueVector& issues, const std::vector<Sorting>& criteria,
             std::vector<SortKey>& keys) {
  const std::size_t count = issues.size();
  if (std::find(issues.begin(), issues.end(), nullptr) != issues.end()) return -1;

  struct Column {
    Sorting criterion;
    std::vector<std::uint32_t> ranks;
    TextNumbers texts;      // of a text field
    std::string_view last;  // the previous record's text
    std::int64_t low = 0;   // of a number field
    std::int64_t high = 0;
  };
  std::vector<Column> columns;
  std::vector<bool> seen(4, false);
  for (const Sorting& criterion : criteria) {
    const auto field = static_cast<std::size_t>(criterion.field);
    // A field compared before decides every pair it can; a later criterion
    // on it only meets equal values.
    if (field >= seen.size() || seen[field]) continue;
    seen[field] = true;
    columns.push_back({criterion, std::vector<std::uint32_t>(count), {}, {}, 0, 0});
  }

  // One pass over the records reads every field the criteria compare: the
  // records lie scattered in memory, and each visit is a cache miss.
  for (std::size_t i = 0; i < count; ++i) {
    const auto& issue = *issues[i];
    for (Column& column : columns) {
      const Sorting::FIELD field = column.criterion.field;
      if (field == Sorting::ID || field == Sorting::NODE) {
        const std::string_view text = field == Sorting::ID ? std::string_view(issue.id) : FirstNode(issue);
        // Lists come in runs of one node or one id: skip the lookup then.
        if (i > 0 && text == column.last) {
          column.ranks[i] = column.ranks[i - 1];
        } else {
          column.ranks[i] = column.texts.Number(text);
          column.last = text;
        }
      } else {
        const std::int32_t value = field == Sorting::SEVERITY ? issue.severity : issue.sort_value;
        column.ranks[i] = static_cast<std::uint32_t>(value);
        if (i == 0 || value < column.low) column.low = value;
        if (i == 0 || value > column.high) column.high = value;
      }
    }
  }

  std::vector<std::uint64_t> packed(count, 0);
  int used = 0;
  for (Column& column : columns) {
    std::uint64_t largest = 0;
    if (column.criterion.field == Sorting::ID || column.criterion.field == Sorting::NODE) {
      const std::vector<std::uint32_t> rank_of = column.texts.Ranks();
      for (auto& rank : column.ranks) rank = rank_of[rank];
      largest = column.texts.size() == 0 ? 0 : column.texts.size() - 1;
    } else {
      for (auto& rank : column.ranks) {
        rank = static_cast<std::uint32_t>(static_cast<std::int32_t>(rank) - column.low);
      }
      largest = static_cast<std::uint64_t>(column.high - column.low);
    }

    const int bits = BitWidth(largest);
    if (bits == 0) continue;
    if (used + bits > 64) return -1;
    used += bits;
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint64_t rank = column.criterion.ascending ? column.ranks[i] : largest - column.ranks[i];
      packed[i] = (bits == 64 ? 0 : packed[i] << bits) | rank;
    }
  }
  keys.resize(count);
  for (std::size_t i = 0; i < count; ++i) keys[i] = {packed[i], static_cast<std::uint32_t>(i)};
  return used;
}

// Sorts keys by their packed ranks, equal keys keeping their order: least
// significant digit first, over the bits in use only. A million keys take
// a few passes over 16 MB instead of twenty rounds of comparisons.
void RadixSort(std::vector<SortKey>& keys, int bits) {
  constexpr int kDigitBits = 11;
  constexpr std::uint64_t kDigits = std::uint64_t{1} << kDigitBits;
  std::vector<SortKey> sorted(keys.size());
  std::vector<std::size_t> start(kDigits);
  for (int shift = 0; shift < bits; shift += kDigitBits) {
    std::fill(start.begin(), start.end(), 0);
    for (const SortKey& key : keys) ++start[(key.first >> shift) & (kDigits - 1)];
    // A digit all keys share orders nothing.
    if (std::find(start.begin(), start.end(), keys.size()) != start.end()) continue;
    std::size_t position = 0;
    for (std::size_t& entry : start) position += std::exchange(entry, position);
    for (const SortKey& key : keys) sorted[start[(key.first >> shift) & (kDigits - 1)]++] = key;
    keys.swap(sorted);
  }
}

}  // namespace

void IssueProcessor::ProcessIssues(std::shared_ptr<Config>& config) {
  SetUp(config);
  ProcessVectors(config);
}

void IssueProcessor::ProcessIssues(std::shared_ptr<Config>& config, PostprocessorExtensionData& data) {
  SetUp(config);
  data.reports = std::make_shared<ReportMap>();
  PopulateReports(config->report_messages, data.reports);
  ProcessVectors(config);
}

void IssueProcessor::SetUp(const std::shared_ptr<Config>& config) {
  include_nodes = config->include_nodes;
  sorting_criteria = config->sorting_criteria;
  category_map = config->category_map;
  MessageTranslator::LoadCatalogs(config->fwd_attributes);

  if (sorting_criteria.empty()) {
    sorting_criteria = {Sorting(false, Sorting::SEVERITY), Sorting(true, Sorting::ID), Sorting(true, Sorting::NODE)};
  } else if (std::none_of(sorting_criteria.begin(), sorting_criteria.end(),
                          [](const Sorting& criterion) { return criterion.field == Sorting::ID; })) {
    sorting_criteria.emplace_back(true, Sorting::ID);
  }
}

void IssueProcessor::ProcessVectors(std::shared_ptr<Config>& config) {
  auto& lists = config->issue_lists;
  for (std::size_t l = 0; l < Config::ISSUES; ++l) ProcessIssueVect(lists[l]);

  // The last list mostly holds the records of the others again. Their
  // texts and categories depend only on their ids and arguments and are
  // already in place, so only the records new to this list are prepared;
  // the list is filtered and sorted as a whole as ever.
  // A sorted array rather than a hash set: a million records would each
  // cost a node allocation there.
  using Address = const analysis::AnalysisOutput*;
  std::vector<Address> done;
  for (std::size_t l = 0; l < Config::ISSUES; ++l) {
    for (const auto& issue : lists[l]) done.push_back(issue.get());
  }
  std::sort(done.begin(), done.end(), std::less<Address>());
  auto& issues = lists[Config::ISSUES];
  issues.erase(std::remove(issues.begin(), issues.end(), nullptr), issues.end());
  IssueVector fresh;
  for (const auto& issue : issues) {
    if (!std::binary_search(done.begin(), done.end(), issue.get(), std::less<Address>())) fresh.push_back(issue);
  }
  PopulateMessages(fresh);
  RemoveIssues(issues);
  PopulateCategories(fresh);
  SortIssues(issues);
}

void IssueProcessor::ProcessIssueVect(IssueVector& issues) {
  // A null entry carries no issue and would stop every later step.
  issues.erase(std::remove(issues.begin(), issues.end(), nullptr), issues.end());
  PopulateMessages(issues);
  RemoveIssues(issues);
  PopulateCategories(issues);
  SortIssues(issues);
}

void IssueProcessor::PopulateMessages(IssueVector& issues) {
  for (const auto& issue : issues) {
    issue->message = MessageTranslator::Translate(issue->id, issue->message_args);
    if (!issue->secondary_id.empty()) {
      issue->secondary_message = MessageTranslator::Translate(issue->secondary_id, issue->secondary_args);
    }
    if (!issue->remedy_id.empty()) issue->remedy = MessageTranslator::Translate(issue->remedy_id, issue->remedy_args);
  }
}

bool IssueProcessor::Exclude(const std::shared_ptr<analysis::AnalysisOutput>& issue) {
  if (include_nodes.empty()) return false;
  for (const auto& name : include_nodes) {
    if (std::find(issue->nodes.begin(), issue->nodes.end(), name) != issue->nodes.end()) return false;
  }
  return true;
}

void IssueProcessor::RemoveIssues(IssueVector& issues) {
  if (include_nodes.empty()) return;
  // The same answer as Exclude, in time linear in the node names rather
  // than in their product with the include list.
  const std::unordered_set<std::string> included(include_nodes.begin(), include_nodes.end());
  auto excluded = [&included](const std::shared_ptr<analysis::AnalysisOutput>& issue) {
    return std::none_of(issue->nodes.begin(), issue->nodes.end(),
                        [&included](const std::string& node) { return included.count(node) != 0; });
  };
  issues.erase(std::remove_if(issues.begin(), issues.end(), excluded), issues.end());
}

namespace {

// The category of the id's usable id, or "FUNCTIONALITY".
const std::string& CategoryOfId(const std::string& id) {
  static const std::string kDefault = "FUNCTIONALITY";
  const auto& categories = IssueProcessor::category_map;
  const auto category = categories.find(IssueProcessor::functions.get_usable_id(id));
  return category == categories.end() ? kDefault : category->second;
}

}  // namespace

void IssueProcessor::PopulateCategory(std::shared_ptr<analysis::AnalysisOutput> issue) {
  issue->category = CategoryOfId(issue->id);
}

void IssueProcessor::PopulateCategories(IssueVector& issues) {
  // The category depends on the id alone, and a run has many records and
  // few ids: look each id up once.
  std::unordered_map<std::string_view, const std::string*> by_id;
  for (const auto& issue : issues) {
    auto known = by_id.find(issue->id);
    if (known == by_id.end()) known = by_id.emplace(issue->id, &CategoryOfId(issue->id)).first;
    issue->category = *known->second;
  }
}

bool IssueProcessor::Compare(const std::shared_ptr<analysis::AnalysisOutput>& a,
                             const std::shared_ptr<analysis::AnalysisOutput>& b) {
  // An empty entry has no fields to compare: it goes after every issue.
  if (!a || !b) return a && !b;
  for (const Sorting& criterion : sorting_criteria) {
    const int order = CompareField(criterion.field, *a, *b);
    if (order != 0) return criterion.ascending ? order < 0 : order > 0;
  }
  return false;
}

void IssueProcessor::SortIssues(IssueVector& issues) {
  if (issues.size() < 2) return;
  std::vector<SortKey> keys;
  const int bits = issues.size() > UINT32_MAX ? -1 : SortKeys(issues, sorting_criteria, keys);
  if (bits < 0) {
    std::stable_sort(issues.begin(), issues.end(), Compare);
    return;
  }
  RadixSort(keys, bits);
  IssueVector sorted;
  sorted.reserve(issues.size());
  for (const auto& key : keys) sorted.push_back(std::move(issues[key.second]));
  issues.swap(sorted);
}

void IssueProcessor::PopulateReports(std::map<std::string, std::vector<templates::Reports_msg>>& report_messages,
                                     std::shared_ptr<ReportMap> reports) {
  for (auto& [key, messages] : report_messages) {
    for (auto& message : messages) message.message = MessageTranslator::Translate(message.id, message.args);
  }
  for (const auto& [key, messages] : report_messages) {
    std::map<std::string, std::set<std::string>> by_text;
    for (const auto& message : messages) by_text[message.message].insert(message.nodes.begin(), message.nodes.end());
    (*reports)[key] = std::move(by_text);
  }
}

}  // namespace qorv::postprocessor
