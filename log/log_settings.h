// The host's log settings, shared by the host and this library.
//
// LOG_LEVEL: messages of the error log at this priority or more severe are
// written (syslog scale, 0 most severe .. 7 least); 6 when the host sets
// nothing. LOG_OUTPUT: 0 writes them to standard error, any other value to
// the system log. Single-threaded use only.
#pragma once

#include "postprocessor/support/export.h"

namespace qorv::log {

QORV_EXPORT extern int LOG_LEVEL;
QORV_EXPORT extern int LOG_OUTPUT;

}  // namespace qorv::log
