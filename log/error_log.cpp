#include "log/error_log.h"

#include <syslog.h>

#include <iostream>

#include "log/log_settings.h"

namespace qorv::log {

ErrorLog::ErrorLog(int level) : level_(level) {}

ErrorLog::~ErrorLog() {
  if (level_ > LOG_LEVEL) return;
  if (LOG_OUTPUT == 0) {
    std::cerr << str() << "\n";
    std::cerr.flush();
  } else {
    ::syslog(level_, "%s\n", str().c_str());
  }
}

}  // namespace qorv::log
