// qorv::analysis::AnalysisOutput: one raw issue record of the host's analysis.
//
// A plain record, always held through std::shared_ptr. The issue processor
// writes message, secondary_message, remedy and category in place; every
// other field is read only for this library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "postprocessor/host/kval/variant.h"

namespace qorv {

// Arguments of a catalogue message, named "0", "1", ... by position.
using MessageArgs = std::vector<KVAL_2_18::types::variant>;

namespace analysis {

struct AnalysisOutput {
  std::int32_t sort_value = 0;
  std::string id;  // message identifier, possibly carrying a sub-id
  std::string category;
  std::string message;
  std::string secondary_message;
  std::vector<std::string> nodes;
  std::string remedy;
  std::int32_t severity = 0;  // 0..100
  bool suppressed = false;
  std::string subcategory;  // node group key
  MessageArgs message_args;
  std::string secondary_id;
  MessageArgs secondary_args;
  std::string remedy_id;
  MessageArgs remedy_args;
};

}  // namespace analysis
}  // namespace qorv
