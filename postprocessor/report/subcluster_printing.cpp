#include "postprocessor/report/subcluster_printing.h"

#include <set>
#include <string>

#include "postprocessor/host/str.h"
#include "postprocessor/report/report_output.h"
#include "postprocessor/text/string_interface.h"
#include "postprocessor/utility_functions.h"

namespace qorv::postprocessor {

namespace {

using detail::Emit;
using detail::Rule;

// Text of the run on one report line, its control characters shown as escapes.
std::string Shown(const std::string& text) { return str::escape_controls(text, false); }

bool Numbered(const ClusterDefinition* group, bool automatic) {
  return group && group->automatic == automatic && group->is_valid_data();
}

}  // namespace

void SubclusterPrinting::PrintNodeGroups(const PostprocessorExtensionData& data) const {
  if (!data.node_groups || data.node_groups->empty() || data.default_subcluster_only) return;
  Emit(str::word_wrap(std::string("Quorvane completed analysis with the following ") + "groups:" + "\n", data.width,
                      ""));
  PrintNodeGroups(data, false);
  PrintNodeGroups(data, true);
  Emit(Rule(data.width));
  Emit("\n");
}

void SubclusterPrinting::PrintNodeGroups(const PostprocessorExtensionData& data, bool automatic) const {
  if (!data.node_groups) return;
  // Invalid user-configured groups widen the numbers but are not listed;
  // invalid automatic groups are not counted at all.
  int count = 0;
  int invalid = 0;
  for (const auto& [name, group] : *data.node_groups) {
    if (!group || group->automatic != automatic) continue;
    if (group->is_valid_data()) {
      ++count;
    } else if (!automatic) {
      ++count;
      ++invalid;
    }
  }
  if (count == 0) return;

  std::string heading;
  if (automatic) {
    heading = std::string("Automatically Configured Groups, with remaining nodes not listed ") +
              "in User-Configured Groups" + "\n";
  } else {
    heading = "User-Configured Groups";
    if (!data.node_groups_file.empty()) heading += " (Defined in " + Shown(data.node_groups_file) + ")";
    heading += "\n";
  }
  Emit(str::word_wrap(heading, data.width, ""));

  const UtilityFunctions utility;
  const int digits = utility.GetDigits(count);
  int number = 0;
  for (const auto& [name, group] : *data.node_groups) {
    if (!Numbered(group.get(), automatic)) continue;
    ++number;
    PrintNodeGroup(data, group, std::to_string(number) + ". " + std::string(digits - utility.GetDigits(number), ' '));
  }
  Emit("\n");

  if (invalid > 0) {
    Emit(str::word_wrap("Node Group Analysis could not be performed for " + std::to_string(invalid) +
                            (invalid == 1 ? " User-Configured Group" : " User-Configured Groups") + "\n",
                        data.width, ""));
    Emit("\n");
  }
}

void SubclusterPrinting::PrintNodeGroup(const PostprocessorExtensionData& data,
                                        std::shared_ptr<const ClusterDefinition> group,
                                        const std::string& prefix) const {
  if (!group) return;
  const std::string indent(prefix.size(), ' ');
  Emit(str::word_wrap(prefix + "Group \"" + Shown(group->name) + "\"\n", data.width, indent));

  std::string body;
  if (group->automatic && group->name != "All" && !group->excluded_groups.empty()) {
    std::set<std::string> excluded;
    for (const auto& name : group->excluded_groups) excluded.insert("group \"" + Shown(name) + "\"");
    body += indent + "Description: All nodes excluding " + str::join_set_strings(excluded) + "\n";
  }
  const std::string nodes = StringInterface().GetNodeStringSet(group->get_node_names());
  body += indent + "Nodes: " + (nodes.empty() ? "No nodes found on the system for this node group" : nodes) + "\n";

  const auto tests = group->get_root_fwd_names();
  if (!tests.empty()) {
    body += indent + "Tests:";
    std::size_t left = tests.size();
    for (const auto& test : tests) {
      body += " " + Shown(test);
      if (--left > 0) body += ",";
      const auto exclusions = group->test_exclusions.find(test);
      if (exclusions != group->test_exclusions.end() && !exclusions->second.empty()) {
        std::set<std::string> excluded;
        for (const auto& name : exclusions->second) excluded.insert(Shown(name));
        body += " (excluding " + str::join_set_strings(excluded) + ")";
      }
    }
    body += "\n";
  }
  Emit(str::column_wrap(body, data.width, indent, ':', false));
}

}  // namespace qorv::postprocessor
