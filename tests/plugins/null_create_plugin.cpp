// An extension library whose factory cannot create an object.
#include "postprocessor/postprocessor_extension.h"

extern "C" QORV_EXPORT qorv::postprocessor::PostprocessorExtension* create(
    qorv::postprocessor::PostprocessorExtensionData& /*data*/) {
  return nullptr;
}
