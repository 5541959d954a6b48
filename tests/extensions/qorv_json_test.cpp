// The qorv_json extension, loaded from the build's extension directory and
// run by the real driver on small hand-built runs; the file is read back
// with a strict JSON parser. The whole document of the bundled sample is
// compared byte for byte by the installed-program test; these tests cover
// what the sample does not reach. validate_results_json.py checks the
// documents they leave in QORV_JSON_SAMPLES against the schema.
#include <gtest/gtest.h>

#include <limits>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/extensions/extension_run.h"
#include "tests/report/report_fixture.h"

namespace qorv::postprocessor {
namespace {

using nlohmann::json;
using Strings = std::vector<std::string>;

using testing::Record;

class QorvJsonTest : public ::testing::Test {
 protected:
  // Runs the driver and returns the document's bytes, kept for the schema check.
  std::string Run(const std::string& file = "qorv_results.json") {
    const auto run = testing::RunDriver(config_);
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string text = testing::ReadFile(file);
    testing::KeepSample("QORV_JSON_SAMPLES", "-" + std::to_string(++runs_) + ".json", text);
    return text;
  }

  testing::TempDir work_{true};
  std::shared_ptr<Config> config_ = testing::ExtensionRun({"qorv_json"}, 1700000000);
  int runs_ = 0;
};

// Every shown string goes through the escaper: quotes, backslashes, control
// characters and NUL escaped, valid UTF-8 kept, ill-formed bytes replaced.
// The same run, on a configuration of its own, gives the same bytes.
TEST_F(QorvJsonTest, EscapesEveryStringAndReplacesInvalidUtf8) {
  using namespace std::string_literals;
  const std::string fffd = "\xEF\xBF\xBD";
  const std::string valid = "say \"hi\" C:\\tmp bell\a nul\0 esc\x1b tab\t nl\n caf\xC3\xA9 \xF0\x9F\x98\x80 "s;
  const std::string raw = valid + "bad \xFF\xC0\xAF end \xE2\x82";
  const std::string decoded = valid + "bad " + fffd + fffd + fffd + " end " + fffd;
  const auto run = [&] {
    config_ = testing::ExtensionRun({"qorv_json"}, 1700000000);
    config_->command_line = raw;
    config_->issue_lists[Config::OBSERVATIONS] = {Record(raw, 30, {"rack,1", raw})};
    config_->nodes = {{"", "rack,1"}, {"", raw}};
    return Run();
  };
  const std::string text = run();
  EXPECT_EQ(run(), text);
  const json doc = json::parse(text);  // throws on invalid JSON or UTF-8
  EXPECT_EQ(doc["run"]["command_line"], decoded);
  EXPECT_EQ(doc["issues"][0]["id"], decoded);
  EXPECT_EQ(doc["issues"][0]["message"], decoded);
  // The names list keeps a node name with a comma whole.
  EXPECT_EQ(doc["tested_nodes"]["names"], (Strings{"rack,1", decoded}));
}

TEST_F(QorvJsonTest, EmptyRunAndOutputFileNaming) {
  config_->output_file = "out/run.log";
  config_->timestamp = std::numeric_limits<std::time_t>::max();
  const std::string text = Run("out/run.json");
  const json doc = json::parse(text);
  EXPECT_NE(text.find("\n  \"issues\": [],\n"), std::string::npos) << "an empty list takes no lines of its own";
  EXPECT_EQ(doc["run"]["time_utc"], nullptr);
  EXPECT_EQ(doc["result"]["overall"], "PASS");
  EXPECT_EQ(doc["result"]["summary"], "No issues found");
  EXPECT_EQ(doc["result"]["fail_level"]["set"], false);
  for (const char* list : {"framework_definitions", "issues", "runtime_problems", "reports"}) {
    EXPECT_EQ(doc[list], json::array()) << list;
  }
  // The runtime errors and the additional information are always listed.
  ASSERT_EQ(doc["categories"].size(), 2u);
  EXPECT_EQ(doc["categories"][0]["issue_count"], 0);
}

}  // namespace
}  // namespace qorv::postprocessor
