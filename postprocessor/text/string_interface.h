// StringInterface: the compact strings reports use for nodes, severities
// and definition names.
//
// An empty class: call its operations on any instance. Node lists become
// one merged host expression (TokenizedHost::get_merged_hosts), which names
// exactly the given nodes; control characters in names are shown as
// escapes (str::escape_controls), so a node string is always one line.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "postprocessor/support/export.h"

namespace qorv::postprocessor {

class QORV_EXPORT StringInterface {
 public:
  // Groups of nodes: when no group has more than one name, all names merged
  // into one expression; otherwise every non-empty group in parentheses
  // ("(" merged group ")"), separated by ", " after each non-empty group
  // that is not the last one. "" when there are no names at all.
  std::string get_node_string(std::vector<std::vector<std::string>>& groups);

  // "" for no names, the name itself for one, else the merged expression of
  // the names sorted byte-wise.
  std::string get_node_string_merge(const std::vector<std::string>& names) const;
  std::string GetNodeStringSet(const std::set<std::string>& names) const;

  // "INFORMATIONAL" (0..24), "WARNING" (25..74), "CRITICAL" (75..100), or ""
  // outside 0..100.
  std::string get_severity_string(const int& severity);

  // A definition file's short name: the name without directory and without
  // its last ".xml" ("/a/b/cpu.xml" gives "cpu", "ab.xml.gz" gives "ab.gz").
  std::string get_short_name(const std::string& path) const;

  // The text without its '\n' characters; everything else stays.
  std::string remove_endl(const std::string& text) const;
};

}  // namespace qorv::postprocessor
