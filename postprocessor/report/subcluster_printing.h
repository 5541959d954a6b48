// SubclusterPrinting: the node group section of a report.
//
// Prints which node groups the run analysed, user-configured first, then
// the automatically configured ones: each numbered, with its nodes in range
// form, the tests (root Framework Definitions) run on it and what they
// exclude. Invalid user-configured groups are counted, not listed. Holds no
// state; every call reads the run data and writes whole blocks through the
// output log, without colour, wrapped to the run data's width. Prints
// nothing when only the default node group is defined. Single-threaded.
#pragma once

#include <memory>
#include <string>

#include "postprocessor/host/cluster_definition.h"
#include "postprocessor/postprocessor_extension_data.h"
#include "postprocessor/support/export.h"

namespace qorv::postprocessor {

class QORV_EXPORT SubclusterPrinting {
 public:
  // The whole section: heading, both halves and a closing rule.
  void PrintNodeGroups(const PostprocessorExtensionData& data) const;
  // The user-configured (automatic false) or automatically configured half;
  // nothing when it has no group to number.
  void PrintNodeGroups(const PostprocessorExtensionData& data, bool automatic) const;
  // One group, its first line starting with prefix and the rest indented
  // by as many blanks.
  void PrintNodeGroup(const PostprocessorExtensionData& data, std::shared_ptr<const ClusterDefinition> group,
                      const std::string& prefix) const;
};

}  // namespace qorv::postprocessor
