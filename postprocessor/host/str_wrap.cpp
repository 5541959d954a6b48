#include "postprocessor/host/str.h"

namespace qorv::str {

std::string word_wrap(const std::string& text, int /*width*/, const std::string& /*indent*/) { return text; }
std::string space_wrap(const std::string& text, int /*width*/, const std::string& /*indent*/) { return text; }
std::string column_wrap(const std::string& text, int /*width*/, const std::string& /*indent*/, char /*separator*/,
                        bool /*after_last*/) {
  return text;
}

}  // namespace qorv::str
