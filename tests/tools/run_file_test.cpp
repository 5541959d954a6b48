// The run-file reader: how the records of a run file become the Config.
#include "tools/run_file.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace {

using qorv::testing::TempDir;
using qorv::tools::ReadRunFile;

std::vector<std::string> Names(const std::vector<std::shared_ptr<qorv::FwdNode>>& nodes) {
  std::vector<std::string> names;
  for (const auto& node : nodes) names.push_back(node->fwd->name);
  return names;
}

TEST(RunFile, LinksFrameworkDefinitionsIntoTrees) {
  TempDir dir;
  const auto run = ReadRunFile(dir.Write("run.json", R"({
    "fwds": [
      {"name": "top", "depends_on": [["mid"], ["leaf", "other"]], "validation": "Platform"},
      {"name": "mid", "depends_on": [["leaf"]], "pass": false, "skipped": true,
       "extensions": [{"directory": "ext", "names": ["report"]}]},
      {"name": "leaf", "catalogs": [{"directory": "cat/", "files": ["a.xml"]}]},
      {"name": "other"},
      {"name": "alone"}
    ]})"));
  const auto& attributes = *run.config->fwd_attributes;
  EXPECT_EQ(attributes.names, (std::vector<std::string>{"top", "mid", "leaf", "other", "alone"}));
  EXPECT_EQ(Names(attributes.roots), (std::vector<std::string>{"top", "alone"}));

  const auto& top = *attributes.fwds.at("top");
  ASSERT_EQ(top.node->dependencies.size(), 2u);
  EXPECT_EQ(Names(top.node->dependencies[0]), std::vector<std::string>{"mid"});
  EXPECT_EQ(Names(top.node->dependencies[1]), (std::vector<std::string>{"leaf", "other"}));
  // The same definition reached twice is one node.
  EXPECT_EQ(top.node->dependencies[1][0], attributes.fwds.at("mid")->node->dependencies[0][0]);
  EXPECT_EQ(top.validation, "Platform");

  const auto& mid = *attributes.fwds.at("mid");
  EXPECT_FALSE(mid.pass);
  EXPECT_TRUE(mid.skipped);
  EXPECT_EQ(mid.extension_specs.at(0).directory, (dir.path() / "ext").string());
  EXPECT_TRUE(run.names_extensions);
  // A catalogue directory keeps its separator: file names are appended to it.
  EXPECT_EQ(attributes.fwds.at("leaf")->catalog_files.at(0).directory, (dir.path() / "cat").string() + "/");
}

TEST(RunFile, ReadsNodeGroupsMessagesAndOrder) {
  TempDir dir;
  const auto run = ReadRunFile(dir.Write("run.json", R"({
    "nodes": [{"name": "b", "group": "g"}, {"name": "a"}],
    "fwds": [{"name": "t"}],
    "roots": ["t"],
    "node_groups": [
      {"name": "g", "nodes": ["b"], "root_fwds": ["t"], "test_exclusions": {"t": ["x"]}, "valid": false},
      {"name": "All", "automatic": true, "excluded_groups": ["g"], "nodes": ["a"]}],
    "report_messages": {"warnings": [{"id": "w", "args": ["a", 2, 2.5, -3], "nodes": ["a"]}]},
    "message_tables": {"m": [{"header": "Node", "cell": "c"}]},
    "sorting": [{"field": "node"}, {"field": "severity", "ascending": false}],
    "extra_text_setting": "brief"
  })"));
  const qorv::Config& config = *run.config;
  EXPECT_FALSE(run.names_extensions);
  EXPECT_EQ(config.tested_names, (std::set<std::string>{"a", "b"}));
  const auto& group = *config.node_groups.at("g");
  EXPECT_FALSE(group.valid);
  EXPECT_EQ(group.root_fwd_names, std::set<std::string>{"t"});
  EXPECT_EQ(group.test_exclusions.at("t"), std::set<std::string>{"x"});
  EXPECT_EQ(config.node_groups.at("All")->excluded_groups, std::set<std::string>{"g"});

  const auto& message = config.report_messages.at("warnings").at(0);
  EXPECT_EQ(message.args, (qorv::MessageArgs{"a", 2, 2.5, -3}));
  EXPECT_EQ(config.message_tables.at("m").at(0), (std::pair<std::string, std::string>{"Node", "c"}));
  ASSERT_EQ(config.sorting_criteria.size(), 2u);
  EXPECT_EQ(config.sorting_criteria[0].field, qorv::Sorting::NODE);
  EXPECT_TRUE(config.sorting_criteria[0].ascending);
  EXPECT_FALSE(config.sorting_criteria[1].ascending);
  EXPECT_EQ(config.extra_text_setting, "brief");
}

TEST(RunFile, RefusesReferencesToWhatIsNotDefined) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"({"fwds": [{"name": "t"}], "roots": ["u"]})", "roots[0]: no Framework Definition 'u'"},
      {R"({"fwds": [{"name": "t"}], "roots": ["t", "t"]})", "roots[1]: 't' is listed twice"},
      {R"({"node_groups": [{"name": "g", "excluded_groups": ["h"]}]})", "node_groups[0].excluded_groups[0]: no node group 'h'"},
      {R"({"fwds": [{"name": "t"}], "node_groups": [{"name": "g", "root_fwds": ["t"], "test_exclusions": {"u": []}}]})",
       "'u' is not among the group's root_fwds"},
      {R"({"nodes": [{"name": "a"}, {"name": "a"}]})", "nodes[1].name: node 'a' is listed twice"},
      {R"({"fwds": [{"name": "t"}, {"name": "t"}]})", "fwds[1].name: Framework Definition 't' is defined twice"},
      {R"({"issues": [{"severity": 3}]})", "issues[0]: missing field 'id'"},
      {R"({"sorting": [{"field": "colour"}]})", "unknown sort field 'colour'"},
      {"{\"command_line\": \"a\tb\"}", "control character in a string"},
      {"{\"command_line\": \"a\xff\"}", "invalid UTF-8 in a string"},
      // Control characters in what a message quotes stay on its one line.
      {R"({"nodes": [{"name": "a\u001b[2J\n"}, {"name": "a\u001b[2J\n"}]})",
       "nodes[1].name: node 'a\\u001b[2J\\n' is listed twice"},
      {"\"{x\\\n\"", "unknown escape '\\\\n' in a string"},
      {R"({"fwds": [{"name": "x"}, {"name": "a", "depends_on": [["x"], ["b"]]}, {"name": "b", "depends_on": [["c"]]},
                   {"name": "c", "depends_on": [["x", "a"]]}]})",
       "fwds[3].depends_on[0][1]: the Framework Definitions depend on each other in a cycle: a -> b -> c -> a"},
  };
  TempDir dir;
  for (const auto& [text, problem] : cases) {
    SCOPED_TRACE(text);
    try {
      ReadRunFile(dir.Write("run.json", text));
      ADD_FAILURE() << "accepted";
    } catch (const qorv::tools::RunFileError& error) {
      EXPECT_NE(std::string(error.what()).find(problem), std::string::npos) << error.what();
    }
  }
}

// The cycle check walks the definitions without recursion, in linear time:
// a chain of 30,000 is read at once, and closing it into a circle is named.
TEST(RunFile, ChecksALongChainOfDefinitions) {
  constexpr int kDepth = 30000;
  std::string fwds;
  for (int i = 0; i < kDepth; ++i) {
    fwds += (i ? ",\n" : "") + std::string(R"({"name": "f)") + std::to_string(i) + "\"";
    if (i + 1 < kDepth) fwds += R"(, "depends_on": [["f)" + std::to_string(i + 1) + "\"]]";
    fwds += "}";
  }
  TempDir dir;
  const auto run = ReadRunFile(dir.Write("run.json", "{\"fwds\": [" + fwds + "]}"));
  EXPECT_EQ(Names(run.config->fwd_attributes->roots), std::vector<std::string>{"f0"});

  fwds.insert(fwds.size() - 1, R"(, "depends_on": [["f0"]])");
  try {
    ReadRunFile(dir.Write("run.json", "{\"fwds\": [" + fwds + "]}"));
    ADD_FAILURE() << "a circle of definitions was accepted";
  } catch (const qorv::tools::RunFileError& error) {
    const std::string message = error.what();
    EXPECT_NE(message.find("in a cycle: f0 -> f1 -> f2 -> "), std::string::npos);
    EXPECT_EQ(message.substr(message.size() - 12), "f29999 -> f0") << message.substr(message.size() - 40);
  }
}

}  // namespace
