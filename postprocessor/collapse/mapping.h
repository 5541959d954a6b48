// The mapping of issues to what triggered them and to their Framework
// Definitions, with the lookups of triggering observations done through a
// UsableIdIndex. Internal, not installed: the toolkit's entry points are
// UtilityFunctions' mapping members, which call these with no index.
#pragma once

#include <memory>
#include <vector>

#include "postprocessor/collapse/collapsed_analysis_output.h"
#include "postprocessor/collapse/issue_index.h"
#include "postprocessor/postprocessor_extension_data.h"
#include "postprocessor/utility_functions.h"

namespace qorv::postprocessor::detail {

// PopulateFWD for each definition of data.fwd_attributes, in name order,
// stopping at the first that gives 1; the same counts, flags and messages,
// with the observations of each definition collected only once. The
// issues must not change meanwhile.
int PopulateFWDs(const UtilityFunctions& utility, const PostprocessorExtensionData& data);

// UtilityFunctions::DiagnosisMapping, looking the triggering issues up in
// index (an index of data.collapsed_by_type) instead of walking each group;
// a null index walks.
int DiagnosisMapping(const CollapsedAnalysisOutput& diagnosis, const PostprocessorExtensionData& data,
                     const UsableIdIndex* index, std::vector<std::shared_ptr<CollapsedAnalysisOutput>>& out, Type type);

// UtilityFunctions::GetOutputFWD with the triggering observations looked up
// through index, as DiagnosisMapping above.
int GetOutputFWD(const std::shared_ptr<CollapsedAnalysisOutput>& issue, Type type,
                 const PostprocessorExtensionData& data, const UsableIdIndex* index);

// UtilityFunctions::PopulateCollapsedOutput with lookups through index.
int PopulateCollapsedOutput(const std::shared_ptr<CollapsedAnalysisOutput>& issue, Type type,
                            const PostprocessorExtensionData& data, const UsableIdIndex* index);

// Adds to issue.fwds the definitions that cover a sign of any candidate,
// exactly as GetOutputFWD's walk over candidates and definitions does,
// messages and result included.
int AddDefinitionsOf(CollapsedAnalysisOutput& issue,
                     const std::vector<std::shared_ptr<CollapsedAnalysisOutput>>& candidates,
                     const PostprocessorExtensionData& data);

}  // namespace qorv::postprocessor::detail
