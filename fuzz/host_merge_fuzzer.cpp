// libFuzzer target: TokenizedHost::get_merged_hosts on arbitrary host names.
//
// The input is a list of names, one a line (any bytes but '\n', so names
// with brackets, commas, blanks, UTF-8 or invalid bytes come up). The result
// must name exactly those names, each once, whatever their order.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "postprocessor/host/tokenized_host.h"
#include "tests/support/host_list_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> hosts(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == '\n') {
      hosts.emplace_back();
    } else {
      hosts.back() += static_cast<char>(data[i]);
    }
  }
  const std::string merged = qorv::TokenizedHost::get_merged_hosts(hosts);
  const std::string problem = qorv::testing::CheckMergedHosts(hosts, merged);
  if (!problem.empty()) {
    std::fprintf(stderr, "%s\n", problem.c_str());
    std::abort();
  }
  std::reverse(hosts.begin(), hosts.end());
  if (qorv::TokenizedHost::get_merged_hosts(hosts) != merged) {
    std::fprintf(stderr, "the order of the names changed the result '%s'\n", merged.c_str());
    std::abort();
  }
  return 0;
}
