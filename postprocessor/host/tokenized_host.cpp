#include "postprocessor/host/tokenized_host.h"

namespace qorv {

std::string TokenizedHost::get_merged_hosts(const std::vector<std::string>& hosts) {
  std::string out;
  for (const auto& host : hosts) out += (out.empty() ? "" : ",") + host;
  return out;
}

}  // namespace qorv
