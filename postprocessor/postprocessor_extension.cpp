#include "postprocessor/postprocessor_extension.h"

namespace qorv::postprocessor {

PostprocessorExtension::PostprocessorExtension(PostprocessorExtensionData& run_data) { data = run_data; }

PostprocessorExtension::~PostprocessorExtension() = default;

int PostprocessorExtension::run() { return 0; }

}  // namespace qorv::postprocessor
