#include "tools/results_diff.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>

#include "tests/support/temp_dir.h"

namespace qorv::tools {
namespace {

// A results document holding just what a comparison reads.
std::string Results(const std::string& issues) {
  return "{\"schema_version\": 1, \"run\": {\"time_utc\": \"2026-02-03T07:05:09Z\"}, \"issues\": [" + issues + "]}";
}

std::string Issue(const std::string& id, const std::string& group, bool fail, const std::string& nodes,
                  const std::string& message = "m") {
  return "{\"id\": \"" + id + "\", \"severity_group\": " + group +
         ", \"contributes_to_fail\": " + (fail ? "true" : "false") + ", \"message\": \"" + message +
         "\", \"nodes\": {\"names\": [" + nodes + "]}}";
}

class ResultsDiffTest : public ::testing::Test {
 protected:
  int Diff(const std::string& old_text, const std::string& new_text, bool json = false, bool all = true) {
    DiffOptions options{dir_.Write("old.json", old_text), dir_.Write("new.json", new_text), json, 80, all};
    std::ostringstream out;
    const int status = DiffResults(options, out);
    printed_ = out.str();
    return status;
  }
  bool Shows(const std::string& text) const { return printed_.find(text) != std::string::npos; }

  testing::TempDir dir_;
  std::string printed_;
};

// The layout of both forms shows in the installed program's golden diff
// files; here, how issues are matched and how nodes come clean.
TEST_F(ResultsDiffTest, IssuesAreMatchedByIdAndSeverityGroup) {
  const std::string old_run =
      Results(Issue("disk", "\"WARNING\"", true, "\"n1\", \"n2\"") + "," +
              Issue("fan", "\"CRITICAL\"", true, "\"n3\"") + "," + Issue("bios", "\"INFORMATIONAL\"", false, "\"n4\""));
  // disk persists on other nodes; fan comes back as another group, which is
  // another issue; bios resolves and n4 is clean again.
  const std::string new_run =
      Results(Issue("disk", "\"WARNING\"", true, "\"n2\", \"n5\"") + "," +
              Issue("fan", "\"WARNING\"", false, "\"n3\"") + "," + Issue("odd", "null", false, "\"n6\""));
  EXPECT_EQ(Diff(old_run, new_run), 0) << "nothing new contributes to FAIL";
  EXPECT_TRUE(
      Shows("New issues: 2\n  1. WARNING: fan\n     m\n     Nodes: 1 node: n3\n"
            "  2. NO SEVERITY GROUP: odd\n"))
      << printed_;
  EXPECT_TRUE(Shows("Resolved issues: 2\n  1. CRITICAL, contributes to FAIL: fan\n")) << printed_;
  EXPECT_TRUE(
      Shows("Still present: 1\n  1. WARNING, contributes to FAIL: disk\n     m\n"
            "     Nodes: 2 nodes: n[2,5]\n     Before: 2 nodes: n[1-2]\n"))
      << printed_;
  EXPECT_TRUE(Shows("Nodes with new issues: 2 nodes: n[5-6]\nNodes clean again: 2 nodes: n[1,4]\n")) << printed_;
  EXPECT_EQ(Diff(new_run, old_run, true), 1) << "fan as a critical FAIL issue is new";

  // By default the text counts what is still present and lists only what changed.
  Diff(old_run, new_run, false, false);
  EXPECT_TRUE(
      Shows("Summary: 2 new issues (0 contributing to FAIL), 2 resolved, 1 still present; 2\n"
            "  nodes with new issues, 2 nodes clean again\n"))
      << printed_;
  EXPECT_TRUE(Shows("\nStill present: 1 (listed with --all)\n\nNodes with new issues:")) << printed_;
}

TEST_F(ResultsDiffTest, WhatIsNotAResultsDocumentIsRefusedByName) {
  const std::string good = Results("");
  const std::pair<std::string, std::string> cases[] = {
      {"{\"schema_version\": 1,\n  \"run", "old.json:2:7: not a JSON document: the file ends early"},
      {"[1, 2]", "old.json: not a qorv_results.json document (not a JSON object)"},
      {"{\"schema_version\": 2, \"run\": {}, \"issues\": []}", "old.json: schema version 2 is not supported"},
      {"{\"schema_version\": 1, \"run\": {}}", "old.json: the document has no 'issues'"},
      {Results("{\"id\": 1}"), "old.json: issues[0].id is not a string"},
      {Results(Issue("a", "\"WARNING\"", true, "3")), "old.json: issues[0].nodes.names is not a string"},
  };
  for (const auto& [text, message] : cases) {
    try {
      Diff(text, good);
      ADD_FAILURE() << "accepted: " << text;
    } catch (const ResultsError& error) {
      EXPECT_NE(std::string(error.what()).find(message), std::string::npos) << error.what();
    }
  }
  try {
    DiffResults(DiffOptions{dir_ / "missing.json", dir_ / "missing.json"}, std::cout);
    ADD_FAILURE() << "a missing file was read";
  } catch (const ResultsError& error) {
    EXPECT_NE(std::string(error.what()).find("missing.json: cannot read the results: No such file or directory"),
              std::string::npos)
        << error.what();
  }
}

}  // namespace
}  // namespace qorv::tools
