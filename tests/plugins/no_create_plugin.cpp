// A library that exports no "create" function.
#include "postprocessor/export.h"

extern "C" QORV_EXPORT int not_a_factory() { return 0; }
