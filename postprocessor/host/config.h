// qorv::Config: the run configuration the host hands to the postprocessor,
// with its small records (Node, Sorting, Reports_msg, ProviderOptionset).
//
// Plain records. The host owns the Config and the issue records it points
// at; the issue processor writes translated texts and categories into those
// records in place. Only the fields the postprocessor reads are present.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "postprocessor/host/analysis_output.h"
#include "postprocessor/host/cluster_definition.h"
#include "postprocessor/host/fwd.h"

namespace qorv {

// One node of the run: its node group key (empty for the default group
// "default-subcluster") and its name.
struct Node {
  std::string group;
  std::string name;
};

// One sort criterion of the issue lists.
struct Sorting {
  enum FIELD : std::int32_t { SORT_VALUE = 0, ID = 1, NODE = 2, SEVERITY = 3 };

  Sorting(bool ascending_order, FIELD sort_field) : ascending(ascending_order), field(sort_field) {}

  bool ascending;
  FIELD field;
};

// Opaque provider options; the postprocessor only copies them.
struct ProviderOptionset {
  std::map<std::string, std::string> options;
};

namespace templates {

// One report message: identifier, arguments, reporting nodes, and the text
// the issue processor writes.
struct Reports_msg {
  std::string id;
  MessageArgs args;
  std::set<std::string> nodes;
  std::string message;
};

}  // namespace templates

using IssueList = std::vector<std::shared_ptr<analysis::AnalysisOutput>>;

// A result file the host names itself rather than leaving it beside the
// results log: the Prometheus metrics in node_exporter's textfile
// directory, say. The extension runs in addition to the run's others (from
// directory when they do not include it) and sees path as its run data's
// output_file, so that an extension placing its file beside the results log
// with path's own suffix (extensions/common/result_file.h) writes exactly
// path; the file gets the permission bits of mode. An extension that
// writes no file at path, or a path another report of the run writes too,
// fails the run.
struct PlacedFile {
  std::string extension;  // its name, as in ExtensionSpec::names
  std::string directory;
  std::string path;  // expanded like output_file
  unsigned mode = 0644;
};

struct Config {
  // The four issue lists, by position.
  enum IssueListIndex : std::size_t { DIAGNOSES = 0, OBSERVATIONS = 1, THIRD = 2, ISSUES = 3 };

  std::vector<Sorting> sorting_criteria;
  std::vector<std::string> include_nodes;
  std::unordered_map<std::string, std::string> category_map;  // usable id to category
  std::shared_ptr<FWDAttributes> fwd_attributes = std::make_shared<FWDAttributes>();
  std::string command_line;
  std::string extra_text_setting;
  std::string nodefile;
  std::string node_groups_file;
  std::vector<std::string> databases;
  std::map<std::string, std::shared_ptr<ClusterDefinition>> node_groups;
  bool passed = true;
  std::int32_t fail_level = -1;  // -1: not set
  std::string output_file;       // empty: not set
  std::vector<ExtensionSpec> extension_specs;
  std::vector<PlacedFile> placed_files;
  std::vector<Node> nodes;
  std::array<IssueList, 4> issue_lists;
  std::map<std::string, std::vector<std::pair<std::string, std::string>>> message_tables;
  std::map<std::string, std::vector<std::string>> diagnosis_ids;
  std::map<std::string, std::vector<std::string>> observation_ids;
  std::map<std::string, std::vector<templates::Reports_msg>> report_messages;
  std::set<std::string> tested_names;
  std::vector<std::map<std::string, std::vector<ProviderOptionset>>> provider_optionsets;
  std::string install_dir;
  // The run's time stamp; 0 means the current time when the run data is
  // filled. A host sets it to reproduce a report exactly.
  std::time_t timestamp = 0;
};

}  // namespace qorv
