#include "postprocessor/host/kval/message.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

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

varg_list args(std::initializer_list<variant> values) {
  varg_list list;
  int index = 0;
  for (const variant& value : values) list.push_back(std::to_string(index++), value);
  return list;
}

TEST(MessageTest, SubstitutesPlaceholdersByName) {
  EXPECT_EQ(parse("Node {0} has {1} MiB").as_string(args({"n01", 512})), "Node n01 has 512 MiB");
  EXPECT_EQ(parse("{1} before {0}, {1} again").as_string(args({"a", "b"})), "b before a, b again");
  EXPECT_EQ(parse("no arguments").as_string(args({})), "no arguments");
}

TEST(MessageTest, MissingArgumentsStayVisibleAndSurplusOnesAreIgnored) {
  const message_t message = parse("{0} / {2}");
  EXPECT_EQ(message.as_string(args({"x"})), "x / {2}");
  EXPECT_EQ(message.as_string(args({"x", "y", "z", "unused"})), "x / z");
  EXPECT_EQ(message.as_string(args({})), "{0} / {2}");
}

TEST(MessageTest, ArgumentTextIsNotScannedForPlaceholders) {
  EXPECT_EQ(parse("{0}-{1}").as_string(args({"{1}", "{{"})), "{1}-{{");
}

TEST(MessageTest, DoubledBracesAreLiteral) {
  const message_t message = parse("{{0}} is {0}, {{{0}}}");
  EXPECT_EQ(message.as_string(args({7})), "{0} is 7, {7}");
}

TEST(MessageTest, SizeCountsPartsAndIsZeroForEmptyOrAbsent) {
  EXPECT_EQ(message_t().size(), 0u);
  EXPECT_EQ(message_t().as_string(args({1})), "");
  EXPECT_EQ(parse("").size(), 0u);
  EXPECT_EQ(parse("Node {0} is down").size(), 3u);
  EXPECT_EQ(parse("{0}{1}").size(), 2u);
  EXPECT_EQ(parse("{{}} and more").size(), 1u);
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
