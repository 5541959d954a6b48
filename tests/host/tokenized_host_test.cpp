#include "postprocessor/host/tokenized_host.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/host_list_check.h"

namespace qorv {
namespace {

std::string merged(const std::vector<std::string>& hosts) { return TokenizedHost::get_merged_hosts(hosts); }

TEST(TokenizedHostTest, FoldsOnTheLastDigitRunKeepingPaddingWithinEachRange) {
  // Readers refuse a padded range that ends wider than it starts.
  std::vector<std::string> widening = {"n09"};
  for (int i = 10; i <= 100; ++i) widening.push_back("n" + std::to_string(i));
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      // clang-format off
      {{"node001", "login1", "node003", "gpu2-ib", "node002", "node007", "gpu1-ib", "node004", "gpu3-ib"},
       "gpu[1-3]-ib,login1,node[001-004,007]"},
      {{"rack1-n1", "rack2-n1", "rack1-n2"}, "rack1-n[1-2],rack2-n1"},
      {{"7", "5", "6"}, "[5-7]"},
      {{"node09", "node10"}, "node[09-10]"}, {{"node9", "node10"}, "node[9-10]"}, {{"node09", "node9"}, "node[9,09]"},
      {{"node099", "node100"}, "node[099-100]"}, {{"n0998", "n0999", "n1000", "n1001"}, "n[0998-1001]"},
      {{"n99", "n100", "n101", "n0", "n00"}, "n[0,00,99-101]"}, {{"n099", "n100", "n101", "n99"}, "n[99-101,099]"},
      {widening, "n[09-99,100]"},
      // Duplicates, empty names and names that cannot be folded.
      {{}, ""}, {{"", ""}, ""}, {{"a1", "", "a1", "a2", "login", "login"}, "a[1-2],login"},
      {{"login2", "login", "login1"}, "login,login[1-2]"}, {{"x[1-2]", "x1", "b,3", "x[1-2]"}, "b,3,x1,x[1-2]"},
      // Names are merged as shown, control characters escaped.
      {{"n\n1", "n\n2", "e\x1b", "e\\x1b"}, "e\\x1b,n\\x0a[1-2]"},
      // clang-format on
  };
  for (const auto& [hosts, expected] : cases) EXPECT_EQ(merged(hosts), expected);
}

// Random host sets: shared prefixes and suffixes, padded and unpadded numbers
// around powers of ten, duplicates and digit-less names.
std::vector<std::string> random_hosts(std::mt19937& rng, std::size_t count) {
  static const char* prefixes[] = {"node", "n", "gpu", "rack1-n", "a-b", "x"};
  static const char* suffixes[] = {"", "", "-ib", "a", "-2x"};
  std::vector<std::string> hosts;
  for (std::size_t i = 0; i < count; ++i) {
    const std::string prefix = prefixes[rng() % 6];
    if (rng() % 10 == 0) {
      hosts.push_back(prefix + "login");
      continue;
    }
    const unsigned base[] = {0, 8, 95, 995, 9995};
    std::string digits = std::to_string(base[rng() % 5] + rng() % 12);
    const std::size_t width = rng() % 6;
    if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
    hosts.push_back(prefix + digits + suffixes[rng() % 5]);
    if (rng() % 8 == 0) hosts.push_back(hosts[rng() % hosts.size()]);
  }
  return hosts;
}

TEST(TokenizedHostTest, RoundTripsRandomSets) {
  std::mt19937 rng(20240611);
  for (int round = 0; round < 300; ++round) {
    const std::vector<std::string> hosts = random_hosts(rng, 1 + rng() % 80);
    ASSERT_EQ(testing::CheckMergedHosts(hosts, merged(hosts)), "");
  }
}

TEST(TokenizedHostTest, NodesetExpandsToTheSameSet) {
  if (std::system("command -v nodeset >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "nodeset (Debian package clustershell) not found; scripts/install-deps installs it";
  }
  std::mt19937 rng(7);
  for (int round = 0; round < 10; ++round) {
    const std::vector<std::string> hosts = random_hosts(rng, 150);
    const std::string list = merged(hosts);
    FILE* pipe = popen(("nodeset -e '" + list + "'").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string text;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) text.append(buffer, n);
    ASSERT_EQ(pclose(pipe), 0) << list;
    std::stringstream words(text);
    std::set<std::string> names;
    for (std::string word; words >> word;) names.insert(word);
    EXPECT_EQ(names, std::set<std::string>(hosts.begin(), hosts.end())) << list;
  }
}

}  // namespace
}  // namespace qorv
