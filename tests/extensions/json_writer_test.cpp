// The JSON writer of the qorv_json extension and the diff and drain
// commands: escaping of arbitrary bytes and chunked output. Its layout
// shows byte for byte in the installed program's golden qorv_results.json.
#include "extensions/common/json_writer.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

namespace qorv::json_report {
namespace {

const std::string kFffd = "\xEF\xBF\xBD";

TEST(AppendJsonStringTest, EscapesAndRepairsEveryString) {
  const struct {
    std::string raw;
    std::string literal;  // what is written, quotes included
  } cases[] = {
      {"plain text", "\"plain text\""},
      {"say \"hi\" \\o/", "\"say \\\"hi\\\" \\\\o/\""},
      {"a\nb\tc\rd\be\ff", "\"a\\nb\\tc\\rd\\be\\ff\""},
      {std::string("\x00\x01\x1f\x7f", 4), "\"\\u0000\\u0001\\u001f\x7f\""},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\""},
      // Each maximal ill-formed sequence, as utf8::decode delimits it, becomes one U+FFFD.
      {"a\x80 \xED\xA0\x80 \xF0\x9F\x98x \xE2\x82",
       "\"a" + kFffd + " " + kFffd + kFffd + kFffd + " " + kFffd + "x " + kFffd + "\""},
  };
  for (const auto& test : cases) {
    std::string out;
    AppendJsonString(out, test.raw);
    EXPECT_EQ(out, test.literal) << test.raw;
    EXPECT_NO_THROW(nlohmann::json::parse(out)) << out;
  }
}

TEST(AppendJsonStringTest, AnyBytesGiveValidJson) {
  std::mt19937 random(7);
  for (int i = 0; i < 5000; ++i) {
    std::string raw(random() % 12, '\0');
    for (char& byte : raw) byte = static_cast<char>(random() % 2 ? 0x80 + random() % 0x80 : random() % 0x80);
    std::string out;
    AppendJsonString(out, raw);
    EXPECT_NO_THROW(nlohmann::json::parse(out)) << out;
  }
}

TEST(JsonWriterTest, EmitsChunksAndStopsAtTheFirstFailedOne) {
  for (const bool fail : {false, true}) {
    std::vector<std::string> chunks;
    JsonWriter out(
        [&](const std::string& chunk) {
          chunks.push_back(chunk);
          return !fail;
        },
        64);
    out.BeginArray();
    for (int i = 0; i < 100; ++i) out.String("item " + std::to_string(i));
    out.EndArray();
    EXPECT_EQ(out.Finish(), !fail);
    if (fail) {
      EXPECT_EQ(chunks.size(), 1u);
    } else {
      EXPECT_GT(chunks.size(), 10u);
      std::string text;
      for (const auto& chunk : chunks) text += chunk;
      EXPECT_EQ(nlohmann::json::parse(text).size(), 100u);
    }
  }
}

}  // namespace
}  // namespace qorv::json_report
