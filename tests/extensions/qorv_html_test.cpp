// The qorv_html extension run by the real driver on a hand-built run whose
// texts are hostile: markup, quotes, control characters, invalid UTF-8 and a
// very long node list. check_html.py parses the pages these tests leave in
// QORV_HTML_SAMPLES.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "postprocessor/postprocessor.h"
#include "tests/support/capture.h"
#include "tests/support/temp_dir.h"

namespace qorv::postprocessor {
namespace {

using qorv::testing::CaptureOutput;
using qorv::testing::ReadFile;
using qorv::testing::TempDir;
using Strings = std::vector<std::string>;

const std::string kMarkup = "<script>alert(\"x\")</script><img src=x onerror='alert(1)'>";
constexpr char kControlBytes[] = "bell\a nul\0 esc\x1b c1\xC2\x85 del\x7F";
const std::string kControl(kControlBytes, sizeof kControlBytes - 1);
const std::string kInvalid = "bad \xFF\xC0\xAF end \xE2\x82";

std::shared_ptr<Config> HtmlConfig() {
  auto config = std::make_shared<Config>();
  config->extension_specs.push_back(ExtensionSpec{{"qorv_html"}, QORV_EXTENSION_DIR});
  config->timestamp = 1700000000;
  return config;
}

// Every shown text is hostile; the group g2's issue is on 5000 nodes.
std::shared_ptr<Config> HostileConfig() {
  auto config = HtmlConfig();
  config->passed = false;
  config->command_line = kMarkup + kControl + kInvalid;
  config->nodefile = kMarkup;
  Strings many;
  for (int i = 0; i < 5000; ++i) many.push_back("n" + std::to_string(10000 + i));
  const Strings hostile = {kMarkup, "q\"uote's", kInvalid, kControl};
  const std::pair<std::string, Strings> groups[] = {{"<g1>", hostile}, {"g2", many}};
  const std::tuple<std::string, int, Strings, std::string> records[] = {
      {kMarkup, 90, hostile, "<g1>"},
      {kControl + kInvalid, 50, {"q\"uote's"}, "<g1>"},
      {"wide", 10, many, "g2"},
      {"ungrouped", 60, {"n10000"}, ""}};
  for (const auto& [id, severity, nodes, group] : records) {
    auto record = std::make_shared<analysis::AnalysisOutput>();
    record->id = id;
    record->severity = severity;
    record->nodes = nodes;
    record->subcategory = group;
    record->remedy_id = "remedy " + id;
    config->issue_lists[Config::ISSUES].push_back(record);
    config->observation_ids[id] = {};
  }
  config->issue_lists[Config::OBSERVATIONS] = config->issue_lists[Config::ISSUES];
  config->category_map = {{kMarkup, "<b>CAT</b>"}};
  for (const auto& [name, nodes] : groups) {
    auto group = std::make_shared<ClusterDefinition>();
    group->name = name;
    group->node_names = {nodes.begin(), nodes.end()};
    group->root_fwd_names = {kMarkup};
    config->node_groups[name] = group;
    for (const auto& node : nodes) config->nodes.push_back(Node{name, node});
  }
  auto fwd = std::make_shared<Fwd>();
  fwd->name = kMarkup;
  fwd->path = "/defs/" + kMarkup + ".xml";
  fwd->validation = kMarkup;
  fwd->node = std::make_shared<FwdNode>();
  fwd->node->fwd = fwd;
  config->fwd_attributes->fwds[fwd->name] = fwd;
  config->fwd_attributes->roots = {fwd->node};
  return config;
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(QorvHtmlTest, HostileTextIsShownAsTextOnlyAndTheSameRunGivesTheSameBytes) {
  TempDir work(true);
  std::string page;
  for (int run = 0; run < 2; ++run) {
    auto config = HostileConfig();
    CaptureOutput capture;
    ASSERT_EQ(run_postprocessor(config), 0) << capture.err();
    EXPECT_EQ(capture.out().substr(0, capture.out().find('\n')), "HTML report: qorv_results.html");
    if (run == 1) {
      EXPECT_EQ(ReadFile("qorv_results.html"), page) << "not deterministic";
    }
    page = ReadFile("qorv_results.html");
  }
  if (const char* samples = std::getenv("QORV_HTML_SAMPLES")) {
    std::filesystem::create_directories(samples);
    std::ofstream(std::string(samples) + "/hostile.html", std::ios::binary) << page;
  }

  EXPECT_EQ(Occurrences(page, "<script"), 1u);  // the page's own
  for (const char* injected : {"<img", "<b>", "<g1>"}) EXPECT_EQ(page.find(injected), std::string::npos) << injected;
  const std::string escaped =
      "&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt;&lt;img src=x onerror=&#39;alert(1)&#39;&gt;";
  // Message, remedy, node, nodefile, command line, test, tree, validation...
  EXPECT_GE(Occurrences(page, escaped), 8u);
  EXPECT_NE(page.find("&lt;b&gt;CAT&lt;/b&gt;"), std::string::npos);
  EXPECT_NE(page.find("q&quot;uote&#39;s"), std::string::npos);
  EXPECT_NE(page.find("bell nul esc c1 del"), std::string::npos);
  EXPECT_NE(page.find("bad \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD end \xEF\xBF\xBD"), std::string::npos);
  // The long node list: its range string, and every name for the filter.
  EXPECT_NE(page.find("n[10000-14999]"), std::string::npos);
  EXPECT_NE(page.find("n10000&#10;n10001&#10;"), std::string::npos);
  EXPECT_GE(Occurrences(page, "n14999"), 3u);
  // An issue whose node group is unknown is shown all the same.
  EXPECT_NE(page.find("Not in any node group <span class=\"count\">(1 issue)</span>"), std::string::npos);
  EXPECT_NE(page.find(">ungrouped</span>"), std::string::npos);
}

TEST(QorvHtmlTest, WritesBesideTheResultsLogOrFailsNamingTheFile) {
  TempDir work(true);
  work.Write("blocker", "a file where a directory should be");
  const struct {
    std::string output_file, console, error;
  } cases[] = {
      {"out/run.log", "HTML report: out/run.html\n", ""},
      {"blocker/run.log", "", "Error writing the HTML report: cannot create the directory of blocker/run.html.\n"},
  };
  for (const auto& test : cases) {
    auto config = HtmlConfig();
    config->output_file = test.output_file;
    CaptureOutput capture;
    EXPECT_EQ(run_postprocessor(config), test.error.empty() ? 0 : 1);
    EXPECT_EQ(capture.out().substr(0, test.console.size()), test.console);
    EXPECT_EQ(capture.err().substr(0, test.error.size()), test.error);
  }
  EXPECT_NE(ReadFile("out/run.html").find("<span class=\"verdict\">PASS</span>"), std::string::npos);
}

}  // namespace
}  // namespace qorv::postprocessor
