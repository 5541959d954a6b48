#include "postprocessor/postprocessor_extension_data.h"

namespace qorv::postprocessor {

// Member by member in declaration order; each member copes with self-assignment.
PostprocessorExtensionData& PostprocessorExtensionData::operator=(const PostprocessorExtensionData& other) = default;

PostprocessorExtensionData::~PostprocessorExtensionData() = default;

}  // namespace qorv::postprocessor
