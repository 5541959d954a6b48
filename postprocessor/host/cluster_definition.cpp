#include "postprocessor/host/cluster_definition.h"

namespace qorv {

std::set<std::string> ClusterDefinition::get_node_names() const { return node_names; }

std::set<std::string> ClusterDefinition::get_root_fwd_names() const { return root_fwd_names; }

bool ClusterDefinition::is_valid_data() const { return valid; }

}  // namespace qorv
