// The catalogue file format, read through message_catalogs::load.
#include <gtest/gtest.h>

#include <string>

#include "postprocessor/host/kval/message_catalogs.h"
#include "tests/support/temp_dir.h"

namespace KVAL_2_18::i18n {
namespace {

class CatalogParserTest : public ::testing::Test {
 protected:
  message_catalogs::result_type load(const std::string& bytes) {
    path_ = dir_.Write("c.xml", bytes);
    return catalogs_.load({path_}, "en");
  }
  std::string text(const std::string& id) { return catalogs_.catalog("").message(id).as_string({}); }

  qorv::testing::TempDir dir_;
  std::string path_;
  message_catalogs catalogs_;
};

TEST_F(CatalogParserTest, DecodesReferencesCdataAndKeepsBytes) {
  const auto result = load(
      "\xEF\xBB\xBF<?xml version='1.0' encoding='utf-8'?>\n"
      "<!-- leading comment --><?app hint?>\n"
      "<message-catalog language='EN'>\n"
      "  <message id='refs'>&lt;a&gt; &amp; &quot;&apos; &#65;&#x42;&#x1F600;</message>\n"
      "  <message id=\"cdata\"><![CDATA[<b> & {{]]> x <!-- gone --> y</message>\n"
      "  <message id='utf8'>  \xC3\xBC\xC2\xB0 \xE6\xB8\xA9 \xF0\x9F\x98\x80\t</message>\n"
      "  <message id='lines'>a\r\nb\rc&#13;</message>\n"
      "  <message id='empty'/>\n"
      "  <message id='a&amp;b'>amp id</message>\n"
      "</message-catalog>\n<!-- trailing -->\n");
  ASSERT_EQ(result.status, 0) << result.text;
  EXPECT_EQ(text("refs"), "<a> & \"' AB\xF0\x9F\x98\x80");
  EXPECT_EQ(text("cdata"), "<b> & { x  y");
  EXPECT_EQ(text("utf8"), "  \xC3\xBC\xC2\xB0 \xE6\xB8\xA9 \xF0\x9F\x98\x80\t");
  EXPECT_EQ(text("lines"), "a\nb\nc\r");
  EXPECT_EQ(catalogs_.catalog("").message("empty").size(), 0u);
  EXPECT_EQ(text("a&b"), "amp id");
}

TEST_F(CatalogParserTest, ReportsEachProblemWithFileAndLine) {
  struct Case {
    std::string body;  // lines after the root start tag on line 1
    int line;
    std::string problem;
  };
  const Case cases[] = {
      {"<message id='a'>{0</message>", 2, "unterminated placeholder '{0'"},
      {"<message id='a'>text\nmore {x}</message>", 3, "placeholder '{x}' names no argument number"},
      {"<message id='a'>{01}</message>", 2, "leading zero"},
      {"<message id='a'>{1000}</message>", 2, "beyond 999"},
      {"<message id='a'>a } b</message>", 2, "unmatched '}'"},
      {"<message id='a'><![CDATA[\n\n{]]></message>", 4, "unterminated placeholder"},
      {"<message id='a'>&nbsp;</message>", 2, "unknown entity '&nbsp;'"},
      {"<message id='a'>&#0;</message>", 2, "character reference"},
      {"<message id='a'>AT&T</message>", 2, "'&' does not start a reference"},
      {"<message id='a'>a <b>bold</b></message>", 2, "element <b> is not allowed inside a message"},
      {"<message id='a'>x</msg>", 2, "end tag </msg> does not match <message>"},
      {"\n<message id='a'>never closed", 4, "end tag </message-catalog> does not match <message>"},
      {"<message>x</message>", 2, "without an id attribute"},
      {"<message id='a b'>x</message>", 2, "contains whitespace"},
      {"<message id='a' lang='de'>x</message>", 2, "unknown attribute 'lang'"},
      {"<message id='a' id='b'>x</message>", 2, "duplicate attribute 'id'"},
      {"<text id='a'>x</text>", 2, "unknown element <text>"},
      {"stray text", 2, "text outside a message"},
      {"<message id='a'>\xC3\x28</message>", 2, "invalid UTF-8"},
      {"<message id='a'>\xEF\xBF\xBE</message>", 2, "character U+FFFE is not allowed"},
      {"<message id='a'>\x01</message>", 2, "control character U+0001"},
      {"<!-- a -- b -->", 2, "'--' inside a comment"},
      {"<message id='a'>x</message>\n\n<message id='a'>y</message>", 4, "duplicate message id 'a' (first defined at "},
      {"</message-catalog><message-catalog>", 2, "content after the root element"},
  };
  for (const Case& c : cases) {
    const auto result = load("<message-catalog>\n" + c.body + "\n</message-catalog>\n");
    EXPECT_EQ(result.status, 1) << c.body;
    EXPECT_EQ(result.text.rfind(path_ + ":" + std::to_string(c.line) + ": ", 0), 0u) << result.text;
    EXPECT_NE(result.text.find(c.problem), std::string::npos) << result.text;
  }
}

TEST_F(CatalogParserTest, RefusesWhatTheFormatDoesNotAllow) {
  const std::pair<std::string, std::string> cases[] = {
      {"<!DOCTYPE m [<!ENTITY x \"xx\">]>\n<message-catalog/>", ":1: DOCTYPE declarations are not allowed"},
      {"<?xml version='1.0' encoding='ISO-8859-1'?><message-catalog/>", ":1: encoding 'ISO-8859-1'"},
      {"\n<catalog/>", ":2: root element is <catalog>"},
      {"<message-catalog xmlns='urn:x'/>", ":1: unknown attribute 'xmlns'"},
      {"<message-catalog language='de'/>", ":1: catalog language 'de' differs from the requested 'en'"},
      {"<message-catalog>\n<message id='a'>x</message>", ":1: <message-catalog> is not closed"},
      {"<message-catalog>\n\n<message id='a'>never closed\n", ":3: message 'a' is not closed"},
      {"", ":1: no root element"},
      {"\xFF\xFE<", ":1: the file is UTF-16"},
      {"\n\n<message-catalog name='x' name='y'/>", ":3: duplicate attribute 'name'"},
  };
  for (const auto& [bytes, expected] : cases) {
    const auto result = load(bytes);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.text.rfind(path_ + expected, 0), 0u) << result.text;
  }
}

}  // namespace
}  // namespace KVAL_2_18::i18n
