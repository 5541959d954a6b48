// PostprocessorExtensionData: the run data handed to every extension and
// printer.
//
// The driver builds one per run and fills it (IssueProcessor, then
// UtilityFunctions::fillOutputData); each extension copies it. Value fields
// belong to each copy; shared fields (std::shared_ptr) point at objects all
// copies share, so an extension that changes a shared container changes it
// for everyone, while a change to a value field stays its own. After the
// fill, everything in this library only reads it.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "postprocessor/host/config.h"
#include "postprocessor/host/issue_key.h"
#include "postprocessor/support/export.h"

namespace qorv::postprocessor {

class CollapsedAnalysisOutput;

using TypeCounts = std::map<IssueKey, std::int32_t, CompareBitset>;
using CollapsedIssues = std::vector<std::shared_ptr<CollapsedAnalysisOutput>>;
using CollapsedByType = std::map<IssueKey, CollapsedIssues, CompareBitset>;
// Report key to (message text to the nodes that reported it).
using ReportMap = std::map<std::string, std::map<std::string, std::set<std::string>>>;
using MessageTables = std::map<std::string, std::vector<std::pair<std::string, std::string>>>;
using IdMap = std::map<std::string, std::vector<std::string>>;

class QORV_EXPORT PostprocessorExtensionData {
 public:
  std::vector<std::string> databases;
  std::time_t timestamp = 0;
  std::string nodefile;
  // The results log's name; for the extension of a file the host places
  // (Config::placed_files), that file's name.
  std::string output_file = "qorv_results.log";
  std::string command_line;
  std::string node_groups_file;
  bool passed = true;
  bool fail_level_set = false;
  bool default_subcluster_only = false;
  std::int32_t fail_level = 25;
  std::int32_t suppressed_count = 0;
  std::int32_t width = 80;
  TypeCounts type_counts;
  std::set<std::string> tested_names;
  std::shared_ptr<std::vector<Node>> nodes;
  std::shared_ptr<std::vector<std::string>> include_nodes;
  std::shared_ptr<std::map<std::string, std::shared_ptr<ClusterDefinition>>> node_groups;
  std::shared_ptr<std::set<std::string>> collapsed_names;
  std::shared_ptr<FWDAttributes> fwd_attributes = std::make_shared<FWDAttributes>();
  std::shared_ptr<std::vector<std::string>> fwd_names;
  std::shared_ptr<IssueList> issues;
  std::shared_ptr<CollapsedByType> collapsed_by_type;
  std::string extra_text_setting;
  std::shared_ptr<IdMap> diagnosis_ids;
  std::shared_ptr<IdMap> observation_ids;
  std::shared_ptr<ReportMap> reports;
  MessageTables message_tables;
  std::vector<std::map<std::string, std::vector<ProviderOptionset>>> provider_optionsets;

  PostprocessorExtensionData() = default;
  PostprocessorExtensionData(const PostprocessorExtensionData& other) = default;
  // Copies member by member: values deeply, shared fields as pointers.
  // Self-assignment leaves the record unchanged.
  PostprocessorExtensionData& operator=(const PostprocessorExtensionData& other);
  // The last copy that holds collapsed_by_type cuts the links between its
  // collapsed issues (related, triggered_diagnoses), which would otherwise
  // keep each other alive after the run.
  ~PostprocessorExtensionData();
};

}  // namespace qorv::postprocessor
