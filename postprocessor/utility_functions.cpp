#include "postprocessor/utility_functions.h"

#include <ctime>

#include "postprocessor/collapse/mapping.h"
#include "postprocessor/host/str.h"
#include "postprocessor/run_share.h"

namespace qorv::postprocessor {

int UtilityFunctions::fillOutputData(const Config& config, PostprocessorExtensionData& data) const {
  data.passed = config.passed;
  if (config.fail_level != -1) {
    data.fail_level = config.fail_level;
    data.fail_level_set = true;
  }

  for (unsigned long key : {0UL, kAnyObservation, kFailBit, kFailBit | kAnyObservation}) {
    data.type_counts[IssueKey(key)] = 0;
  }

  data.timestamp = config.timestamp != 0 ? config.timestamp : std::time(nullptr);

  data.nodefile = config.nodefile;
  data.node_groups_file = config.node_groups_file;
  if (!config.output_file.empty()) data.output_file = config.output_file;
  data.command_line = config.command_line;
  data.databases = config.databases;
  data.extra_text_setting = config.extra_text_setting;
  data.message_tables = config.message_tables;

  data.nodes = std::make_shared<std::vector<Node>>(config.nodes);
  data.node_groups = std::make_shared<std::map<std::string, std::shared_ptr<ClusterDefinition>>>(config.node_groups);
  // A configuration without Framework Definitions keeps the run data's own
  // empty record, so readers never meet a null pointer.
  if (config.fwd_attributes) data.fwd_attributes = config.fwd_attributes;
  data.fwd_names = std::make_shared<std::vector<std::string>>(data.fwd_attributes->names);
  data.diagnosis_ids = std::make_shared<IdMap>(config.diagnosis_ids);
  data.observation_ids = std::make_shared<IdMap>(config.observation_ids);
  data.tested_names = config.tested_names;
  data.issues = detail::NewSharedIssueList(config.issue_lists[Config::ISSUES]);
  data.include_nodes = std::make_shared<std::vector<std::string>>(config.include_nodes);

  if (data.node_groups->size() == 1) {
    const auto& group = data.node_groups->begin()->second;
    if (group && group->name == "default-subcluster") data.default_subcluster_only = true;
  }

  if (SortType(config, data) == 1) return 1;

  return detail::PopulateFWDs(*this, data);
}

std::string UtilityFunctions::get_usable_id(const std::string& id) const { return str::remove_sub_id(id); }

}  // namespace qorv::postprocessor
