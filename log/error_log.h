// qorv::log::ErrorLog: one diagnostic message outside the reports.
//
// Stream text into it; on destruction it is written when its level is at
// most LOG_LEVEL: to standard error (followed by a newline) when LOG_OUTPUT
// is 0, otherwise to the system log with the level as priority. Never fails.
#pragma once

#include <cstdint>
#include <sstream>

#include "postprocessor/support/export.h"

namespace qorv::log {

class QORV_EXPORT ErrorLog : public std::stringstream {
 public:
  // level: syslog priority, 0 most severe .. 7 least.
  explicit ErrorLog(int level);
  ~ErrorLog() override;

 private:
  std::int32_t level_;
};

}  // namespace qorv::log
