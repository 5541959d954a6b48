#include "tools/slurm_drain.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "postprocessor/support/utf8.h"
#include "tests/support/temp_dir.h"

namespace qorv::tools {
namespace {

std::string Issue(const std::string& id, int severity, const std::string& group, bool fail, const std::string& nodes,
                  const std::string& message = "m") {
  return "{\"id\": \"" + id + "\", \"type\": \"observation\", \"severity\": " + std::to_string(severity) +
         ", \"severity_group\": " + group + ", \"contributes_to_fail\": " + (fail ? "true" : "false") +
         ", \"message\": \"" + message + "\", \"nodes\": {\"names\": [" + nodes + "]}}";
}

std::string Results(const std::string& issues, const std::string& tested) {
  return "{\"schema_version\": 1, \"issues\": [" + issues + "], \"tested_nodes\": {\"names\": [" + tested + "]}}";
}

std::string Names(int first, int last) {
  std::string names;
  for (int n = first; n <= last; ++n)
    names += std::string(names.empty() ? "" : ", ") + (n < 10 ? "\"n0" : "\"n") + std::to_string(n) + "\"";
  return names;
}

std::string Repeat(const std::string& text, int times) {
  std::string result;
  while (times-- > 0) result += text;
  return result;
}

// Well-formed UTF-8 without control characters (C0, DEL and C1).
bool CleanUtf8(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const utf8::Decoded c = utf8::decode(text, i);
    if (!c.well_formed || c.code < 0x20 || (c.code >= 0x7F && c.code < 0xA0)) return false;
    i += c.length;
  }
  return true;
}

TEST(DrainReason, FitsSlurmAndReadsWell) {
  const std::string long_id(100, 'x');
  struct Case {
    std::string id, message;
    std::size_t more;
    std::string expected;
  } cases[] = {
      {"qorv-fan", "Fan 2 failed.", 0, "qorv: qorv-fan: Fan 2 failed."},
      {"qorv-fan", "Fan 2 failed.", 2, "qorv: qorv-fan: Fan 2 failed. (+2 more)"},
      {"qorv-memory-low", "Free memory is below the 4096 MiB threshold.", 0,
       "qorv: qorv-memory-low: Free memory is below the 4096 MiB\u2026"},
      {"qorv-memory-low", "Free memory is below the 4096 MiB threshold.", 12,
       "qorv: qorv-memory-low: Free memory is below the\u2026 (+12 more)"},
      {"id", "", 0, "qorv: id"},
      {" \n", "", 0, "qorv: (no id)"},
      // Line breaks, tabs, ESC, DEL, C1 controls, bidi overrides: spaces.
      {"id", " one\n\ttwo\x1b[31m\x7f three\r\n", 0, "qorv: id: one two [31m three"},
      {"id",
       "a\xc2\x85"
       "b\xe2\x80\xae"
       "c\xe2\x80\xa8"
       "d",
       0, "qorv: id: a b c d"},
      // Quotes at either end would be taken away by scontrol.
      {"id", "say \"hi\"", 0, "qorv: id: say 'hi'"},
      {"id", "bad \xff byte", 0, "qorv: id: bad \xef\xbf\xbd byte"},
      // Cut before a character, never inside one: 61 bytes of budget.
      {"ab", Repeat("\xc3\xa9", 40), 0, "qorv: ab: " + Repeat("\xc3\xa9", 25) + "\u2026"},
      {long_id, "m", 0, "qorv: " + long_id.substr(0, 55) + "\u2026"},
  };
  for (const auto& c : cases) {
    const std::string reason = DrainReason(c.id, c.message, c.more);
    EXPECT_EQ(reason, c.expected) << c.message;
    EXPECT_LE(reason.size(), kReasonLimit) << reason;
    EXPECT_TRUE(CleanUtf8(reason)) << reason;
    EXPECT_EQ(reason.find('"'), std::string::npos) << reason;
  }
}

TEST(NodeStates, ReadsSinfoAsItPrintsThem) {
  const SlurmNodes nodes = ParseNodeStates(
      "garbage before any node\n"
      "n01|idle|none\n"
      "n02|drained*|qorv: a|b\n"
      "n01|idle|none\n"            // n01 again, for its second partition
      "n03|draining|first line\n"  // a reason with a line break
      "second line\n"
      "n04|DOWN~|Not responding\r\n");
  ASSERT_EQ(nodes.size(), 4u);
  EXPECT_EQ(nodes.at("n02").state, "drained*");
  EXPECT_EQ(nodes.at("n02").reason, "qorv: a|b");
  EXPECT_EQ(nodes.at("n03").reason, "first line\nsecond line");
  EXPECT_EQ(nodes.at("n04").state, "down~");
  EXPECT_EQ(nodes.at("n04").reason, "Not responding");
}

class DrainPlanTest : public ::testing::Test {
 protected:
  DrainPlan Plan(const std::string& text, DrainBar bar = DrainBar::kFail, const SlurmNodes* states = nullptr) {
    return PlanDrain(ReadResults(dir_.Write("results.json", text)), bar, states);
  }
  static std::map<std::string, std::vector<std::string>> ByReason(const std::vector<DrainPlan::Group>& groups) {
    std::map<std::string, std::vector<std::string>> map;
    for (const auto& group : groups) map[group.reason] = group.nodes;
    return map;
  }
  testing::TempDir dir_;
};

// Each node once, for its most severe issue; nodes with the same reason in
// one command; the bar chooses the issues.
TEST_F(DrainPlanTest, GroupsNodesByTheReasonOfTheirWorstIssue) {
  const std::string results = Results(Issue("mem", 80, "\"CRITICAL\"", true, "\"n01\", \"n02\", \"n05\"", "low") + "," +
                                          Issue("fan", 50, "\"WARNING\"", true, "\"n05\", \"n07\"", "loud") + "," +
                                          Issue("fan", 50, "\"WARNING\"", true, "\"n05\"", "louder") + "," +
                                          Issue("disk", 40, "\"WARNING\"", false, "\"n08\"", "slow") + "," +
                                          Issue("info", 10, "\"INFORMATIONAL\"", false, "\"n03\"") + "," +
                                          Issue("odd", 90, "\"CRITICAL\"", true, "\"a b\", \"n[1]\""),
                                      Names(1, 9));
  using Map = std::map<std::string, std::vector<std::string>>;
  const struct {
    DrainBar bar;
    std::size_t failing;
    Map drain;
  } cases[] = {
      {DrainBar::kFail,
       6,
       {{"qorv: mem: low", {"n01", "n02"}}, {"qorv: mem: low (+2 more)", {"n05"}}, {"qorv: fan: loud", {"n07"}}}},
      {DrainBar::kWarning,
       7,
       {{"qorv: mem: low", {"n01", "n02"}},
        {"qorv: mem: low (+2 more)", {"n05"}},
        {"qorv: fan: loud", {"n07"}},
        {"qorv: disk: slow", {"n08"}}}},
      {DrainBar::kCritical, 5, {{"qorv: mem: low", {"n01", "n02", "n05"}}}},
  };
  for (const auto& c : cases) {
    const DrainPlan plan = Plan(results, c.bar);
    EXPECT_EQ(ByReason(plan.drain), c.drain) << static_cast<int>(c.bar);
    ASSERT_EQ(plan.skipped.size(), 1u);
    EXPECT_EQ(plan.skipped[0].nodes, (std::vector<std::string>{"a b", "n[1]"})) << "not to be given to scontrol";
    EXPECT_EQ(plan.failing.size(), c.failing) << "the nodes, those that cannot be named too";
    EXPECT_EQ(plan.node_count, 9u) << "the run's tested nodes";
    EXPECT_TRUE(plan.resume.empty()) << "nothing to resume without the node states";
  }
  EXPECT_EQ(Plan(results).healthy, (std::vector<std::string>{"n03", "n04", "n06", "n08", "n09"}));
}

// What Slurm says of a node decides whether it is drained, left or resumed.
TEST_F(DrainPlanTest, ResumesOnlyItsOwnDrainsOfTestedHealthyNodes) {
  const std::string ours = "qorv: mem: low";
  const SlurmNodes states = {
      {"n01", {"idle", "none"}},                   // failing: drained
      {"n02", {"drained", ours}},                  // failing: already so
      {"n03", {"drained*", "qorv: fan: loud"}},    // failing: ours, now for mem
      {"n04", {"drained", "bad dimm"}},            // failing: someone else's
      {"n05", {"down*", "Not responding"}},        // failing: down
      {"n06", {"idle+drain", "qorv: fan: loud"}},  // healthy: resumed
      {"n07", {"draining", "qorv: fan: loud"}},    // healthy: resumed
      {"n08", {"drained", "qorv: fan: loud"}},     // healthy, not tested: kept
      {"n09", {"drained", "reboot"}},              // healthy: someone else's
      {"n10", {"down*", "qorv: fan: loud"}},       // healthy, down: left
      {"n12", {"idle", "qorv: stale"}},            // not drained
      {"n13", {"mixed", "none"}},
  };
  const DrainPlan plan = Plan(
      Results(Issue("mem", 80, "\"CRITICAL\"", true, "\"n01\", \"n02\", \"n03\", \"n04\", \"n05\", \"n11\"", "low"),
              Names(1, 7) + ", \"n09\", \"n10\", \"n11\", \"n12\""),
      DrainBar::kFail, &states);
  using Map = std::map<std::string, std::vector<std::string>>;
  EXPECT_EQ(ByReason(plan.drain), (Map{{ours, {"n01", "n03"}}}));
  EXPECT_EQ(ByReason(plan.unchanged), (Map{{ours, {"n02"}}}));
  EXPECT_EQ(plan.resume, (std::vector<std::string>{"n06", "n07"}));
  EXPECT_EQ(ByReason(plan.skipped), (Map{{"down in Slurm: \"Not responding\"", {"n05"}},
                                         {"down in Slurm: \"qorv: fan: loud\"", {"n10"}},
                                         {"drained by qorv, not tested by this run", {"n08"}},
                                         {"drained by someone else: \"bad dimm\"", {"n04"}},
                                         {"not a node Slurm lists", {"n11"}}}));
  EXPECT_EQ(plan.node_count, states.size()) << "Slurm's node count";
  EXPECT_EQ(plan.failing.size(), 6u);
}

TEST(DrainGuard, RefusesMoreThanTheShare) {
  const struct {
    std::size_t failing, nodes;
    double max_share;
    bool exceeds;
  } cases[] = {
      {4, 40, 10, false}, {5, 40, 10, true},    {0, 0, 10, false},     {1, 0, 10, true},
      {1, 40, 0, true},   {40, 40, 100, false}, {1, 1000, 0.1, false}, {2, 1000, 0.1, true},
  };
  for (const auto& c : cases) {
    DrainPlan plan;
    plan.failing.assign(c.failing, "n");
    plan.node_count = c.nodes;
    EXPECT_EQ(ExceedsShare(plan, c.max_share), c.exceeds) << c.failing << " of " << c.nodes << " at " << c.max_share;
  }
}

// Applying: the node states first, then every command even after one failed.
TEST_F(DrainPlanTest, AppliesEveryCommandAndReportsFailures) {
  const std::string failing = Issue("mem", 80, "\"CRITICAL\"", true, "\"n01\", \"n02\", \"n04\"", "low");
  DrainOptions options;
  options.results_file = dir_.Write("results.json", Results(failing, Names(1, 4)));
  options.apply = true;
  options.max_share = 100;
  std::vector<std::string> commands;
  const CommandRunner slurm = [&](const std::vector<std::string>& argv) -> CommandResult {
    commands.push_back(argv[0] + " " + argv[2]);
    if (argv[0] == "sinfo") return {0, "n01|idle|none\nn02|idle|none\nn03|drained|qorv: x\nn04|idle|none\n"};
    if (argv.back() == "State=DRAIN") return {0, ""};
    return argv[3] == "State=DRAIN" ? CommandResult{1, "slurm_update error: Invalid node name specified\n"}
                                    : CommandResult{0, ""};
  };
  std::ostringstream out, err;
  EXPECT_EQ(Drain(options, slurm, out, err), 1);
  EXPECT_EQ(commands,
            (std::vector<std::string>{"sinfo --noheader", "scontrol NodeName=n[01-02,04]", "scontrol NodeName=n03"}));
  EXPECT_NE(err.str().find("failed (exit status 1): slurm_update error: Invalid node name specified"),
            std::string::npos)
      << err.str();
  EXPECT_NE(out.str().find("scontrol update NodeName=\"n[01-02,04]\" State=DRAIN Reason=\"qorv: mem: low\""),
            std::string::npos)
      << out.str();

  // Over the share nothing is run; a file that is no results document is
  // refused before Slurm is asked anything.
  options.max_share = 10;
  commands.clear();
  EXPECT_EQ(Drain(options, slurm, out, err), 1);
  EXPECT_EQ(commands.size(), 1u) << "the node states only";
  EXPECT_NE(err.str().find("refused: the run has failing issues on 3 of 4 nodes (75%)"), std::string::npos);
  EXPECT_NE(err.str().find("more likely broken than the nodes"), std::string::npos);
  const std::pair<std::string, std::string> bad[] = {
      {"{\"schema_version\": 1, \"issues\": []}", "the document has no 'tested_nodes'"},
      {"{\"schema_version\": 2}", "schema version 2 is not supported"},
      {Results("{\"id\": \"a\", \"message\": \"\", \"severity\": 1.5}", ""),
       "issues[0].severity is not a whole number"},
      {"[]", "not a qorv_results.json document"},
  };
  for (const auto& [text, message] : bad) {
    commands.clear();
    std::ostringstream bad_err;
    options.results_file = dir_.Write("bad.json", text);
    EXPECT_EQ(Drain(options, slurm, out, bad_err), 2) << text;
    EXPECT_TRUE(commands.empty());
    EXPECT_NE(bad_err.str().find("bad.json: " + message), std::string::npos) << bad_err.str();
  }
}

}  // namespace
}  // namespace qorv::tools
