// ResultsError: a results file (qorv_results.json) that cannot be read or is
// not a results document of a known schema version. what() names the file
// and the problem.
#pragma once

#include <stdexcept>

namespace qorv::tools {

class ResultsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace qorv::tools
