// The qorv_html extension, loaded from the build's extension directory and
// run by the real driver on a hand-built run whose texts are hostile:
// markup, quotes, control characters, invalid UTF-8, a very long node list.
// check_html.py parses the pages these tests leave in QORV_HTML_SAMPLES.
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

std::shared_ptr<analysis::AnalysisOutput> Record(std::string id, int severity, Strings nodes, std::string group) {
  auto record = std::make_shared<analysis::AnalysisOutput>();
  record->id = std::move(id);
  record->severity = severity;
  record->nodes = std::move(nodes);
  record->subcategory = std::move(group);
  return record;
}

class QorvHtmlTest : public ::testing::Test {
 protected:
  QorvHtmlTest() : work_(true) {}

  // A run of two node groups whose every shown text is hostile; the second
  // group's issue is on 5000 nodes.
  std::shared_ptr<Config> HostileConfig() {
    auto config = std::make_shared<Config>();
    config->extension_specs.push_back(ExtensionSpec{{"qorv_html"}, QORV_EXTENSION_DIR});
    config->timestamp = 1700000000;
    config->passed = false;
    config->command_line = "qorv " + kMarkup + " " + kControl + " " + kInvalid;
    config->nodefile = kMarkup;
    config->databases = {"\"" + kInvalid + "\""};
    Strings many;
    for (int i = 0; i < 5000; ++i) many.push_back("n" + std::to_string(10000 + i));
    const Strings hostile_nodes = {kMarkup, "q\"uote's", kInvalid, kControl};
    auto& issues = config->issue_lists[Config::ISSUES];
    issues = {Record(kMarkup, 90, hostile_nodes, "<g1>"), Record(kControl + kInvalid, 50, {"q\"uote's"}, "<g1>"),
              Record("wide", 10, many, "g2")};
    config->issue_lists[Config::OBSERVATIONS] = issues;
    issues[0]->remedy_id = "remedy " + kMarkup;
    config->category_map = {{kMarkup, "<b>CAT</b>"}};
    Strings observation_ids = {kMarkup, kControl + kInvalid, "wide"};
    for (const auto& id : observation_ids) config->observation_ids[id] = {};
    const std::pair<std::string, Strings> groups[] = {{"<g1>", hostile_nodes}, {"g2", many}};
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

  // Runs the driver; returns the page, keeping a copy for check_html.py.
  std::string Run(std::shared_ptr<Config> config, const std::string& file, std::string* console = nullptr) {
    CaptureOutput capture;
    EXPECT_EQ(run_postprocessor(config), 0) << capture.err();
    EXPECT_EQ(capture.err(), "");
    if (console) *console = capture.out();
    const std::string page = ReadFile(file);
    if (const char* samples = std::getenv("QORV_HTML_SAMPLES")) {
      std::filesystem::create_directories(samples);
      const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
      std::ofstream(std::string(samples) + "/" + test->name() + ".html", std::ios::binary) << page;
    }
    return page;
  }

  TempDir work_;
};

std::size_t Occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST_F(QorvHtmlTest, HostileTextIsShownAsTextOnly) {
  std::string console;
  const std::string page = Run(HostileConfig(), "qorv_results.html", &console);
  EXPECT_EQ(console.substr(0, console.find('\n') + 1), "HTML report: qorv_results.html\n");

  // The page's own script is the only one; every hostile text is escaped.
  EXPECT_EQ(Occurrences(page, "<script"), 1u);
  EXPECT_EQ(page.find("<img"), std::string::npos);
  EXPECT_EQ(page.find("<b>"), std::string::npos);
  EXPECT_EQ(page.find("<g1>"), std::string::npos);
  const std::string escaped =
      "&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt;&lt;img src=x onerror=&#39;alert(1)&#39;&gt;";
  EXPECT_GE(Occurrences(page, escaped), 8u);  // message, remedy, node, test, tree, validation, nodefile...
  EXPECT_NE(page.find("&lt;b&gt;CAT&lt;/b&gt;"), std::string::npos);
  EXPECT_NE(page.find("q&quot;uote&#39;s"), std::string::npos);

  // Control characters are dropped and invalid UTF-8 replaced.
  EXPECT_NE(page.find("bell nul esc c1 del"), std::string::npos);
  EXPECT_NE(page.find("bad \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD end \xEF\xBF\xBD"), std::string::npos);
  for (const char c : page) {
    const auto byte = static_cast<unsigned char>(c);
    ASSERT_TRUE(byte >= 0x20 || c == '\n') << "control byte " << int(byte);
    ASSERT_TRUE(byte != 0xFF && byte != 0xC0 && byte != 0x7F);
  }

  // The long node list: its range string, and every name for the filter
  // and the unfolded list.
  EXPECT_NE(page.find("n[10000-14999]"), std::string::npos);
  EXPECT_GE(Occurrences(page, "n14999"), 3u);
  EXPECT_NE(page.find("n10000&#10;n10001&#10;"), std::string::npos);
}

TEST_F(QorvHtmlTest, SameRunGivesTheSameBytes) {
  const std::string first = Run(HostileConfig(), "qorv_results.html");
  EXPECT_EQ(first, Run(HostileConfig(), "qorv_results.html"));
}

TEST_F(QorvHtmlTest, EmptyRunBesideANamedResultsLog) {
  auto config = std::make_shared<Config>();
  config->extension_specs.push_back(ExtensionSpec{{"qorv_html"}, QORV_EXTENSION_DIR});
  config->output_file = "out/run.log";
  std::string console;
  const std::string page = Run(config, "out/run.html", &console);
  EXPECT_EQ(console.substr(0, console.find('\n') + 1), "HTML report: out/run.html\n");
  EXPECT_NE(page.find("<span class=\"verdict\">PASS</span>"), std::string::npos);
  EXPECT_NE(page.find("No issues found"), std::string::npos);
}

TEST_F(QorvHtmlTest, UnwritableFileFailsTheRunAndLeavesNothing) {
  work_.Write("blocker", "a file where a directory should be");
  auto config = std::make_shared<Config>();
  config->extension_specs.push_back(ExtensionSpec{{"qorv_html"}, QORV_EXTENSION_DIR});
  config->output_file = "blocker/run.log";
  CaptureOutput capture;
  EXPECT_EQ(run_postprocessor(config), 1);
  EXPECT_NE(capture.err().find("Error writing the HTML report: cannot create the directory of blocker/run.html"),
            std::string::npos)
      << capture.err();
  EXPECT_EQ(capture.out().find("HTML report:"), std::string::npos);
}

}  // namespace
}  // namespace qorv::postprocessor
