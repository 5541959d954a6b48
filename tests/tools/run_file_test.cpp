// The run-file reader: how the records of a run file become the Config.
#include "tools/run_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

using qorv::testing::TempDir;
using qorv::tools::ReadRunFile;

// Why ReadRunFile refuses the file at path; "" when it reads it.
std::string Problem(const std::string& path) {
  try {
    ReadRunFile(path);
    return "";
  } catch (const qorv::tools::RunFileError& error) {
    return error.what();
  }
}

// The installed-program test reads the bundled sample and compares every
// report byte for byte: definitions, dependencies, node groups, messages,
// tables and sorting. Here, what the sample leaves out.
TEST(RunFile, ReadsWhatTheSampleLeavesOut) {
  TempDir dir;
  const auto run = ReadRunFile(dir.Write("run.json", R"({
    "fwds": [
      {"name": "top", "depends_on": [["mid"], ["leaf"]]},
      {"name": "mid", "depends_on": [["leaf"]], "pass": false,
       "extensions": [{"directory": "ext", "names": ["report"]}]},
      {"name": "leaf"}
    ],
    "nodes": [{"name": "a"}],
    "report_messages": {"warnings": [{"id": "w", "args": ["a", 2, 2.5, -3], "nodes": ["a"]}]},
    "sorting": [{"field": "node"}],
    "extra_text_setting": "brief"
  })"));
  const auto& fwds = run.config->fwd_attributes->fwds;
  // The same definition reached twice is one node.
  EXPECT_EQ(fwds.at("top")->node->dependencies[1][0], fwds.at("mid")->node->dependencies[0][0]);
  EXPECT_FALSE(fwds.at("mid")->pass);
  EXPECT_TRUE(fwds.at("top")->pass);
  EXPECT_EQ(fwds.at("mid")->extension_specs.at(0).directory, (dir.path() / "ext").string());
  EXPECT_TRUE(run.names_extensions);

  const qorv::Config& config = *run.config;
  EXPECT_EQ(config.report_messages.at("warnings").at(0).args, (qorv::MessageArgs{"a", 2, 2.5, -3}));
  ASSERT_EQ(config.sorting_criteria.size(), 1u);
  EXPECT_TRUE(config.sorting_criteria[0].ascending);
  EXPECT_EQ(config.extra_text_setting, "brief");
  EXPECT_FALSE(ReadRunFile(dir.Write("plain.json", R"({"fwds": [{"name": "t"}]})")).names_extensions);
  // A verdict the file does not state is left to the run, even a stated PASS is not.
  EXPECT_FALSE(run.states_verdict);
  EXPECT_TRUE(ReadRunFile(dir.Write("stated.json", R"({"passed": true})")).states_verdict);
}

// The category report's list mostly repeats the typed lists: a record
// equal in every field to the next typed one not taken is that record.
TEST(RunFile, SharesTheRecordsTheIssuesListRepeats) {
  TempDir dir;
  const auto run = ReadRunFile(dir.Write("run.json", R"({
    "observations": [
      {"id": "a", "severity": 5, "nodes": ["n1"], "args": ["x", 1]},
      {"id": "b", "nodes": ["n2"]},
      {"id": "c", "args": [-0.0]}
    ],
    "issues": [
      {"args": ["x", 1], "suppressed": false, "nodes": ["n1"], "severity": 5, "id": "a"},
      {"id": "b", "nodes": ["n2"], "subcategory": "g"},
      {"id": "\u0062", "nodes": ["n\u0032"]},
      {"id": "c", "args": [0.0]}
    ]
  })"));
  const auto& typed = run.config->issue_lists[qorv::Config::OBSERVATIONS];
  const auto& issues = run.config->issue_lists[qorv::Config::ISSUES];
  ASSERT_EQ(issues.size(), 4u);
  EXPECT_EQ(issues[0], typed[0]);  // fields in another order, a default given
  EXPECT_NE(issues[1], typed[1]);  // differs in its last field only
  EXPECT_EQ(issues[1]->subcategory, "g");
  EXPECT_EQ(issues[2], typed[1]);  // the same once unescaped
  EXPECT_NE(issues[3], typed[2]);  // 0.0 and -0.0 print differently
  EXPECT_EQ(issues[3]->message_args.at(0).to_string(), "0");
}

TEST(RunFile, RefusesReferencesToWhatIsNotDefined) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"({"fwds": [{"name": "t"}], "roots": ["u"]})", "roots[0]: no Framework Definition 'u'"},
      {R"({"fwds": [{"name": "t"}], "roots": ["t", "t"]})", "roots[1]: 't' is listed twice"},
      {R"({"fwds": [{"name": "t", "depends_on": [["x"]]}]})", "fwds[0].depends_on[0][0]: no Framework Definition 'x'"},
      {R"({"fwds": [{"name": "t", "depends_on": [["t"]]}]})",
       "fwds[0].depends_on[0][0]: the Framework Definitions depend on each other in a cycle: t -> t"},
      {R"({"node_groups": [{"name": "g", "excluded_groups": ["h"]}]})",
       "node_groups[0].excluded_groups[0]: no node group 'h'"},
      {R"({"fwds": [{"name": "t"}], "node_groups": [{"name": "g", "root_fwds": ["t"], "test_exclusions": {"u": []}}]})",
       "'u' is not among the group's root_fwds"},
      {R"({"nodes": [{"name": "a"}, {"name": "a"}]})", "nodes[1].name: node 'a' is listed twice"},
      {R"({"fwds": [{"name": "t"}, {"name": "t"}]})", "fwds[1].name: Framework Definition 't' is defined twice"},
      {R"({"issues": [{"severity": 3}]})", "issues[0]: missing field 'id'"},
      // A record that repeats a typed one so far is still checked in full.
      {R"({"observations": [{"id": "a", "severity": 1}], "issues": [{"id": "a", "severity": 101}]})",
       "issues[0].severity: 101 is out of range"},
      {R"({"observations": [{"id": "a"}], "issues": [{"id": "a", "nodes": ["n", 2]}]})",
       "issues[0].nodes[1]: expected a string, found a number"},
      {R"({"sorting": [{"field": "colour"}]})", "unknown sort field 'colour'"},
      {"{\"command_line\": \"a\tb\"}", "control character in a string"},
      {"{\"command_line\": \"a\xff\"}", "invalid UTF-8 in a string"},
      // Control characters in what a message quotes stay on its one line.
      {R"({"nodes": [{"name": "a\u001b[2J\n\u009b"}, {"name": "a\u001b[2J\n\u009b"}]})",
       "nodes[1].name: node 'a\\u001b[2J\\n\\u009b' is listed twice"},
      {"\"{x\\\n\"", "unknown escape '\\\\n' in a string"},
      {R"({"fwds": [{"name": "x"}, {"name": "a", "depends_on": [["x"], ["b"]]}, {"name": "b", "depends_on": [["c"]]},
                   {"name": "c", "depends_on": [["x", "a"]]}]})",
       "fwds[3].depends_on[0][1]: the Framework Definitions depend on each other in a cycle: a -> b -> c -> a"},
  };
  TempDir dir;
  for (const auto& [text, problem] : cases) {
    const std::string said = Problem(dir.Write("run.json", text));
    EXPECT_NE(said.find(problem), std::string::npos) << text << "\nrefused with: " << said;
  }
}

// What keeps a file from being read is named by its own reason, not by
// one an earlier call left in errno.
TEST(RunFile, NamesWhyAFileCannotBeRead) {
  TempDir dir;
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/dev/null", "/dev/null: cannot read the run file: not a regular file"},
      {dir.path().string(), dir.path().string() + ": cannot read the run file: Is a directory"},
  };
  for (const auto& [path, message] : cases) {
    errno = EACCES;
    EXPECT_EQ(Problem(path), message);
  }
}

// The cycle check walks the definitions without recursion, in linear time:
// a chain of 30,000 is read at once, and closing it into a circle is named
// on one short line, by its first members and its length.
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
  const auto& roots = run.config->fwd_attributes->roots;
  ASSERT_EQ(roots.size(), 1u);
  EXPECT_EQ(roots[0]->fwd->name, "f0");

  fwds.insert(fwds.size() - 1, R"(, "depends_on": [["f0"]])");
  const std::string message = Problem(dir.Write("run.json", "{\"fwds\": [" + fwds + "]}"));
  EXPECT_NE(message.find("in a cycle of 30000 definitions: f0 -> f1 -> f2 -> f3 -> f4 -> ... -> f0"), std::string::npos)
      << message.substr(0, 400);
  EXPECT_LT(message.size(), 300u);
}

}  // namespace
