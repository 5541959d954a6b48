// UtilityFunctions: the toolkit's shared operations on the run data.
//
// An empty class: its operations are non-static members called on any
// instance, and printers derive from it or hold one. Results of 0 mean
// success and 1 failure.
#pragma once

#include <string>

#include "postprocessor/export.h"
#include "postprocessor/host/config.h"
#include "postprocessor/postprocessor_extension_data.h"

namespace qorv::postprocessor {

class QORV_EXPORT UtilityFunctions {
 public:
  // Fills the run data from the configuration: flags, fail level, the four
  // zero counts, time stamp, copies, the "default-subcluster" flag; then the
  // severity collapse and each Framework Definition's verdict. Returns 1 as
  // soon as one of those fails (what was filled stays), else 0.
  int fillOutputData(const Config& config, PostprocessorExtensionData& data) const;

  // The identifier with its sub-id removed.
  std::string get_usable_id(const std::string& id) const;

  // Collapses the three typed issue lists per severity group into the run
  // data's collapsed_by_type, counts them and links them. 0 or 1.
  int SortType(const Config& config, PostprocessorExtensionData& data) const;

  // Settles one Framework Definition's pass flag and counts. 0 or 1.
  int PopulateFWD(const std::shared_ptr<Fwd>& fwd, PostprocessorExtensionData& data) const;
};

}  // namespace qorv::postprocessor
