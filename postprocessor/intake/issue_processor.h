// IssueProcessor: prepares the host's raw issue lists before anything is
// collapsed or printed.
//
// For each of the configuration's four issue lists, in place: translate the
// messages, drop issues that concern none of the included nodes, give each
// issue its category, and sort. It also translates the report messages into
// the run data's reports. All state is static and replaced by each SetUp;
// single-threaded, not re-entrant.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "postprocessor/host/config.h"
#include "postprocessor/intake/message_translator.h"
#include "postprocessor/postprocessor_extension_data.h"
#include "postprocessor/support/export.h"
#include "postprocessor/utility_functions.h"

namespace qorv::postprocessor {

class QORV_EXPORT IssueProcessor {
 public:
  using IssueVector = std::vector<std::shared_ptr<analysis::AnalysisOutput>>;

  // SetUp, then every issue list. Throws KVAL_2_18::i18n::CatalogError (a
  // std::runtime_error) when a message catalogue fails to load; no list is
  // processed then.
  static void ProcessIssues(std::shared_ptr<Config>& config);
  // As above, and first sets data.reports to a new map of the configuration's
  // translated report messages.
  static void ProcessIssues(std::shared_ptr<Config>& config, PostprocessorExtensionData& data);

  // Copies the include nodes, sort criteria and category map, loads the
  // catalogues, and completes the criteria: none gives severity descending,
  // id ascending, first node ascending; criteria without the id get id
  // ascending appended. The configuration itself is not changed.
  static void SetUp(const std::shared_ptr<Config>& config);

  static void ProcessVectors(std::shared_ptr<Config>& config);
  // Drops null entries, then PopulateMessages, RemoveIssues,
  // PopulateCategories, SortIssues.
  static void ProcessIssueVect(IssueVector& issues);

  // Translates message, and secondary message and remedy when they have an
  // id (an empty id leaves the text as it was).
  static void PopulateMessages(IssueVector& issues);
  // Removes the issues Exclude rejects, keeping the order of the others.
  static void RemoveIssues(IssueVector& issues);
  static void PopulateCategories(IssueVector& issues);
  // Sorts with Compare; issues equal under every criterion keep their
  // order.
  static void SortIssues(IssueVector& issues);

  // The category of the issue's usable id, or "FUNCTIONALITY".
  static void PopulateCategory(std::shared_ptr<analysis::AnalysisOutput> issue);
  // True when include_nodes is non-empty and the issue names none of them
  // (an issue without nodes is then excluded).
  static bool Exclude(const std::shared_ptr<analysis::AnalysisOutput>& issue);
  // Strict "less" by the criteria in order; an issue without nodes compares
  // as if its first node were "", and an empty (null) entry comes after
  // every issue.
  static bool Compare(const std::shared_ptr<analysis::AnalysisOutput>& a,
                      const std::shared_ptr<analysis::AnalysisOutput>& b);

  // Translates every report message in place, then fills reports: report
  // key to (message text to the union of the nodes of the messages with
  // that text).
  static void PopulateReports(std::map<std::string, std::vector<templates::Reports_msg>>& report_messages,
                              std::shared_ptr<ReportMap> reports);

  static std::vector<std::string> include_nodes;
  static std::vector<Sorting> sorting_criteria;
  static std::unordered_map<std::string, std::string> category_map;
  static MessageTranslator translator;
  static UtilityFunctions functions;
};

}  // namespace qorv::postprocessor
