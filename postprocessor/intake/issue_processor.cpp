#include "postprocessor/intake/issue_processor.h"

#include <algorithm>
#include <unordered_set>

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
    case Sorting::SORT_VALUE:
      return order(a.sort_value, b.sort_value);
    case Sorting::ID:
      return a.id.compare(b.id);
    case Sorting::NODE:
      return FirstNode(a).compare(FirstNode(b));
    case Sorting::SEVERITY:
      return order(a.severity, b.severity);
  }
  return 0;
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
  for (auto& list : config->issue_lists) ProcessIssueVect(list);
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

void IssueProcessor::PopulateCategory(std::shared_ptr<analysis::AnalysisOutput> issue) {
  const auto category = category_map.find(functions.get_usable_id(issue->id));
  issue->category = category == category_map.end() ? "FUNCTIONALITY" : category->second;
}

void IssueProcessor::PopulateCategories(IssueVector& issues) {
  for (const auto& issue : issues) PopulateCategory(issue);
}

bool IssueProcessor::Compare(const std::shared_ptr<analysis::AnalysisOutput>& a,
                             const std::shared_ptr<analysis::AnalysisOutput>& b) {
  for (const Sorting& criterion : sorting_criteria) {
    const int order = CompareField(criterion.field, *a, *b);
    if (order != 0) return criterion.ascending ? order < 0 : order > 0;
  }
  return false;
}

void IssueProcessor::SortIssues(IssueVector& issues) { std::sort(issues.begin(), issues.end(), Compare); }

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
