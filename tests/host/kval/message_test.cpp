#include "postprocessor/host/kval/message.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "postprocessor/host/kval/message_catalogs.h"
#include "tests/support/temp_dir.h"

namespace KVAL_2_18::i18n {
namespace {

using generic::varg_list;
using types::variant;

// Loads one unnamed catalogue holding a message "m" with the given text.
message_t parse(const std::string& text) {
  qorv::testing::TempDir dir;
  message_catalogs catalogs;
  const auto result = catalogs.load(
      {dir.Write("m.xml", "<message-catalog><message id=\"m\">" + text + "</message></message-catalog>")}, "en");
  EXPECT_EQ(result.status, 0) << result.text;
  return catalogs.catalog("").message("m");
}

varg_list args(const std::vector<variant>& values) {
  varg_list list;
  int index = 0;
  for (const variant& value : values) list.push_back(std::to_string(index++), value);
  return list;
}

TEST(MessageTest, SubstitutesNumberedPlaceholders) {
  const struct {
    std::string text;
    std::vector<variant> args;
    std::string expected;
  } cases[] = {
      {"Node {0} has {1} MiB", {"n01", 512}, "Node n01 has 512 MiB"},
      {"{1} before {0}, {1} again", {"a", "b"}, "b before a, b again"},
      {"no arguments", {}, "no arguments"},
      // Missing arguments stay visible; surplus ones are ignored.
      {"{0} / {2}", {"x"}, "x / {2}"},
      {"{0} / {2}", {"x", "y", "z", "unused"}, "x / z"},
      {"{0} / {2}", {}, "{0} / {2}"},
      // Argument text is not scanned for placeholders; doubled braces are literal.
      {"{0}-{1}", {"{1}", "{{"}, "{1}-{{"},
      {"{{0}} is {0}, {{{0}}}", {7}, "{0} is 7, {7}"},
  };
  for (const auto& c : cases) EXPECT_EQ(parse(c.text).as_string(args(c.args)), c.expected) << c.text;
}

// The translator takes a message without parts for a missing one.
TEST(MessageTest, OnlyEmptyAndAbsentMessagesHaveNoParts) {
  EXPECT_EQ(message_t().size(), 0u);
  EXPECT_EQ(message_t().as_string(args({1})), "");
  EXPECT_EQ(parse("").size(), 0u);
  EXPECT_NE(parse("{0}").size(), 0u);
  EXPECT_NE(parse("{{}}").size(), 0u);
}

TEST(VargListTest, LastPushedValueWins) {
  varg_list list;
  list.push_back("0", "first");
  list.push_back("1", 1);
  list.push_back("0", "second");
  ASSERT_NE(list.find("0"), nullptr);
  EXPECT_EQ(list.find("0")->to_string(), "second");
  EXPECT_EQ(list.find("2"), nullptr);
  EXPECT_EQ(list.size(), 3u);
}

TEST(VariantTest, RendersNumbersPlainlyAndTextAsIs) {
  EXPECT_EQ(variant(42).to_string(), "42");
  EXPECT_EQ(variant(-17).to_string(), "-17");
  EXPECT_EQ(variant(std::numeric_limits<std::int64_t>::min()).to_string(), "-9223372036854775808");
  EXPECT_EQ(variant(std::numeric_limits<std::uint64_t>::max()).to_string(), "18446744073709551615");
  EXPECT_EQ(variant(0.1).to_string(), "0.1");
  EXPECT_EQ(variant(2.5).to_string(), "2.5");
  EXPECT_EQ(variant(3.0).to_string(), "3");
  EXPECT_EQ(variant(-0.25).to_string(), "-0.25");
  EXPECT_EQ(variant(1e300).to_string(), "1e+300");
  EXPECT_EQ(variant(std::numeric_limits<double>::quiet_NaN()).to_string(), "nan");
  EXPECT_EQ(variant("n01 \xc2\xb0").to_string(), "n01 \xc2\xb0");
  EXPECT_EQ(variant().to_string(), "");
  EXPECT_EQ(variant(3u).kind(), variant::Kind::kUnsigned);
}

}  // namespace
}  // namespace KVAL_2_18::i18n
