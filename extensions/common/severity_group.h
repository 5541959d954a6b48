// The severity group an issue key files its issues under. Header only; each
// extension links it in.
#pragma once

#include "postprocessor/host/issue_key.h"

namespace qorv::extensions {

// The entry of severity_groups ("critical", "informational", "warning" with
// their bounds) whose code is in the key's bits 2-3, or null when no group
// has that code.
inline const postprocessor::SeverityGroups::value_type* SeverityGroupOfKey(const postprocessor::IssueKey& key) {
  const auto code = static_cast<int>(postprocessor::KeySeverityCode(key));
  for (const auto& entry : postprocessor::severity_groups) {
    if (std::get<2>(entry.second) == code) return &entry;
  }
  return nullptr;
}

}  // namespace qorv::extensions
