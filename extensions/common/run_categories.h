// The category map of a run as the default reports classify it: every
// category that an issue of the run carries, plus the runtime errors
// ("ERROR") and the additional information ("INFORMATIONAL"), which the map
// keeps apart from the issues. Header only; each extension links it in.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "postprocessor/collapse/category_map.h"
#include "postprocessor/postprocessor_extension_data.h"

namespace qorv::extensions {

// A filled map: subclusters from the node groups (or from the nodes when
// only the default group is defined) and the run's issues collapsed into
// it. tables keeps table messages apart, one issue per message with a row
// per distinct cell set, for reports that print the tables.
inline std::unique_ptr<postprocessor::CategoryMap> RunCategories(const postprocessor::PostprocessorExtensionData& data,
                                                                  bool tables) {
  std::set<std::string> names{"ERROR", "INFORMATIONAL"};
  if (data.issues) {
    for (const auto& record : *data.issues) {
      if (record && !record->category.empty()) names.insert(record->category);
    }
  }
  auto map = std::make_unique<postprocessor::CategoryMap>(std::vector<std::string>(names.begin(), names.end()),
                                                          tables);
  map->PopulateSubclusters(data);
  map->PopulateIssues(data);
  return map;
}

}  // namespace qorv::extensions
