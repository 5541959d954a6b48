#include "log/log_settings.h"

#include "log/output_log.h"

namespace qorv::log {

int LOG_LEVEL = 6;
int LOG_OUTPUT = 0;

OutputLog::OutputLogStream* OutputLog::singleton_obj = nullptr;

}  // namespace qorv::log
