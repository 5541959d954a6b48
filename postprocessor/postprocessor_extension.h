// PostprocessorExtension: the base class of every report extension.
//
// An extension library exports, under the plain symbol name "create", a
// function of type CreateExtensionFunction that returns a new object of a
// class derived from this one, or null when it cannot create one:
//
//   extern "C" QORV_EXPORT qorv::postprocessor::PostprocessorExtension*
//   create(qorv::postprocessor::PostprocessorExtensionData& data) {
//     return new MyReport(data);
//   }
//
// The driver calls create once, then run(), then destroys the object with
// delete before it closes the library. The object holds its own copy of the
// run data: value fields are its own, shared fields point at the driver's
// objects. Before create is called, the output log already points at the
// extension's file or the console and data.width is set for it.
#pragma once

#include "postprocessor/host/non_deep_copyable.h"
#include "postprocessor/postprocessor_extension_data.h"
#include "postprocessor/support/export.h"

namespace qorv::postprocessor {

class QORV_EXPORT PostprocessorExtension : public util::NonDeepCopyable<PostprocessorExtension> {
 public:
  // Copies the run data into `data` (value fields deeply, shared fields as
  // pointers).
  explicit PostprocessorExtension(PostprocessorExtensionData& run_data);
  ~PostprocessorExtension() override;

  // The extension's work: return 1 to report failure; any other value is
  // success. The base body returns 0 for derived classes that call it.
  virtual int run() = 0;

  PostprocessorExtensionData data;
};

using CreateExtensionFunction = PostprocessorExtension* (*)(PostprocessorExtensionData&);

}  // namespace qorv::postprocessor
