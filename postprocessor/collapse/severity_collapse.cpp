#include "postprocessor/utility_functions.h"

namespace qorv::postprocessor {

int UtilityFunctions::SortType(const Config& /*config*/, PostprocessorExtensionData& data) const {
  data.collapsed_by_type = std::make_shared<CollapsedByType>();
  data.collapsed_names = std::make_shared<std::set<std::string>>();
  return 0;
}

int UtilityFunctions::PopulateFWD(const std::shared_ptr<Fwd>& /*fwd*/, PostprocessorExtensionData& /*data*/) const {
  return 0;
}

}  // namespace qorv::postprocessor
