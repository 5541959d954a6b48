#include "postprocessor/postprocessor_extension_data.h"

#include "postprocessor/collapse/collapsed_analysis_output.h"

namespace qorv::postprocessor {

// Member by member in declaration order; each member copes with self-assignment.
PostprocessorExtensionData& PostprocessorExtensionData::operator=(const PostprocessorExtensionData& other) = default;

PostprocessorExtensionData::~PostprocessorExtensionData() {
  // Linked collapsed issues hold each other; the last holder of the map
  // cuts those links so the issues are freed with the run.
  if (collapsed_by_type && collapsed_by_type.use_count() == 1) {
    for (auto& entry : *collapsed_by_type) {
      for (auto& issue : entry.second) {
        if (!issue) continue;
        issue->related.clear();
        issue->triggered_diagnoses.clear();
      }
    }
  }
}

}  // namespace qorv::postprocessor
