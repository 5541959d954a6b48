// Suppression rules (docs/suppressions.md): the <suppress id=… nodes=…/>
// entries of the installation's etc/qorv.xml and of the files named with
// --suppressions, and their marking of the run's issue records.
//
// A file is read whole and checked strictly before any record is touched:
// well-formed XML, only the known elements and attributes, every rule with
// an id and a valid node range. The first problem stops the read with
// SuppressionError, "FILE:LINE: problem".
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <vector>

#include "postprocessor/host/config.h"

namespace qorv::tools {

class SuppressionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The most node names the node ranges of all rules may expand to, together.
inline constexpr std::size_t kMaxSuppressedNodeNames = 1000000;

// The node names of a node-range string as the reports print them,
// "gpu[1-3]-ib,login1,node[001-004,007]". Throws std::invalid_argument
// with the problem when the text is not such a string or names more than
// `limit` nodes (duplicates counted).
std::vector<std::string> ExpandNodeRange(const std::string& text, std::size_t limit);

struct SuppressionRule {
  std::string file;
  long line = 0;
  std::string id;        // a usable id
  bool any_node = true;  // no nodes attribute
  std::unordered_set<std::string> nodes;
};

class Suppressions {
 public:
  // Adds the rules of the file at path. When `optional`, a file that does
  // not exist adds nothing; any other problem throws SuppressionError.
  void Load(const std::string& path, bool optional);

  // Marks every record of the configuration's issue lists that a rule
  // matches as suppressed. Returns a warning for each rule that matched
  // none, "FILE:LINE: the suppression of 'ID' matches no issue".
  std::vector<std::string> Apply(Config& config) const;

  bool empty() const { return rules_.empty(); }

 private:
  std::vector<SuppressionRule> rules_;
  std::size_t node_names_ = 0;  // expanded so far, against kMaxSuppressedNodeNames
};

}  // namespace qorv::tools
