// Forwarding header: QORV_EXPORT is defined in postprocessor/support/export.h.
#pragma once

#include "postprocessor/support/export.h"
