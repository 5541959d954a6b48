// The qorv_html extension run by the real driver on a hand-built run whose
// texts are hostile: markup, quotes, control characters, invalid UTF-8 and a
// very long node list. check_html.py parses the page it leaves in
// QORV_HTML_SAMPLES: valid UTF-8, only the report's own elements and script.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/extensions/extension_run.h"
#include "tests/report/report_fixture.h"

namespace qorv::postprocessor {
namespace {

using qorv::testing::ReadFile;
using qorv::testing::TempDir;
using Strings = std::vector<std::string>;

const std::string kMarkup = "<script>alert(\"x\")</script><img src=x onerror='alert(1)'>";
constexpr char kControlBytes[] = "bell\a nul\0 esc\x1b c1\xC2\x85 del\x7F";
const std::string kControl(kControlBytes, sizeof kControlBytes - 1);
const std::string kInvalid = "bad \xFF\xC0\xAF end \xE2\x82";

// Every shown text is hostile; the group g2's issue is on 5000 nodes.
std::shared_ptr<Config> HostileConfig() {
  auto config = testing::ExtensionRun({"qorv_html"}, 1700000000);
  config->output_file = "out/run.log";
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
    auto record = testing::Record(id, severity, nodes, "", "", group);
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
  config->fwd_attributes->roots = {testing::Definition(*config->fwd_attributes, kMarkup, kMarkup)};
  return config;
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// The browser test shows run text stays text on a run file's hostile text;
// here, what a run file cannot carry (invalid UTF-8, C1 controls), and the
// page beside the results log.
TEST(QorvHtmlTest, HostileTextIsShownAsTextOnlyAndTheSameRunGivesTheSameBytes) {
  TempDir work(true);
  std::string page;
  for (int run = 0; run < 2; ++run) {
    const auto ran = testing::RunDriver(HostileConfig());
    ASSERT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(ran.out.substr(0, ran.out.find('\n')), "HTML report: out/run.html");
    if (run == 1) {
      EXPECT_EQ(ReadFile("out/run.html"), page) << "not deterministic";
    }
    page = ReadFile("out/run.html");
  }
  testing::KeepSample("QORV_HTML_SAMPLES", ".html", page);

  const std::string escaped =
      "&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt;&lt;img src=x onerror=&#39;alert(1)&#39;&gt;";
  // Message, remedy, node, nodefile, command line, test, tree, validation...
  EXPECT_GE(Occurrences(page, escaped), 8u);
  EXPECT_NE(page.find("bell nul esc c1 del"), std::string::npos);
  EXPECT_NE(page.find("bad \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD end \xEF\xBF\xBD"), std::string::npos);
  EXPECT_NE(page.find("n[10000-14999]"), std::string::npos);
  // An issue that names no node group is shown in its node's group.
  EXPECT_EQ(page.find("Not in any node group"), std::string::npos);
  EXPECT_NE(page.find(">ungrouped</span>"), std::string::npos);
  // The filter's data names the nodes as the page shows them, with no '<'
  // that could end its script element.
  EXPECT_NE(page.find(R"("nodes":["\u003cscript\u003ealert(\"x\")\u003c/script\u003e)"), std::string::npos);
  EXPECT_NE(page.find("\"bad \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD end \xEF\xBF\xBD\",\"bell nul esc c1 del\""),
            std::string::npos);
  // A group without issues in a category is named once, not given a block.
  EXPECT_NE(page.find("No issues in group &quot;g2&quot;."), std::string::npos);
}

}  // namespace
}  // namespace qorv::postprocessor
