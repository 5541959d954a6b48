// qorv::ClusterDefinition: one node group of the run, as the host defines it.
//
// A plain record; the host fills node_names, root_fwd_names and valid, and
// the operations read them back. "All" names the group of all nodes.
#pragma once

#include <map>
#include <set>
#include <string>

#include "postprocessor/support/export.h"

namespace qorv {

struct QORV_EXPORT ClusterDefinition {
  std::string name;
  bool automatic = false;
  std::set<std::string> excluded_groups;
  std::map<std::string, std::set<std::string>> test_exclusions;  // test name to exclusions

  std::set<std::string> node_names;
  std::set<std::string> root_fwd_names;
  bool valid = true;

  // The names of the group's nodes.
  std::set<std::string> get_node_names() const;
  // The root Framework Definitions run on the group, ordered by name.
  std::set<std::string> get_root_fwd_names() const;
  // Whether the group's data is usable.
  bool is_valid_data() const;
};

}  // namespace qorv
