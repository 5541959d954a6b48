// qorv::TokenizedHost: compact host-list strings.
//
// get_merged_hosts names a set of hosts in the bracket notation that batch
// schedulers and parallel shells expand, e.g. "node[001-004,007],login1".
#pragma once

#include <string>
#include <vector>

#include "postprocessor/export.h"

namespace qorv {

class QORV_EXPORT TokenizedHost {
 public:
  // One string that names exactly the given hosts, each once. Names that
  // differ only in their last run of digits fold into one bracket range;
  // zero padding is kept, so "node9" and "node09" never share a range.
  // Names without digits, and names holding '[', ']' or ',', stay as they
  // are. An empty list gives "".
  static std::string get_merged_hosts(const std::vector<std::string>& hosts);
};

}  // namespace qorv
