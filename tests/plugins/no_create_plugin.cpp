// A library that exports no "create" function.
#include "postprocessor/support/export.h"

extern "C" QORV_EXPORT int not_a_factory() { return 0; }
