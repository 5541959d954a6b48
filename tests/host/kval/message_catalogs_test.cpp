#include "postprocessor/host/kval/message_catalogs.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace KVAL_2_18::i18n {
namespace {

std::string catalog_file(const std::string& attributes, const std::string& messages) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<message-catalog" + attributes + ">\n" + messages +
         "</message-catalog>\n";
}

std::string text(const message_catalogs& catalogs, const std::string& name, const std::string& id) {
  return catalogs.catalog(name).message(id).as_string({});
}

std::vector<std::string> names(const message_catalogs& catalogs) {
  std::vector<std::string> out;
  for (auto it = catalogs.begin(); it != catalogs.end(); ++it) out.push_back(it->name().str());
  return out;
}

class MessageCatalogsTest : public ::testing::Test {
 protected:
  qorv::testing::TempDir dir_;
  message_catalogs catalogs_;
};

TEST_F(MessageCatalogsTest, MergesFilesByCatalogName) {
  const auto a = dir_.Write("a.xml", catalog_file("", "<message id='x'>ax</message>\n"));
  const auto b = dir_.Write("b.xml", catalog_file("", "<message id='y'>by</message>\n"));
  const auto t = dir_.Write("t.xml", catalog_file(" name='tables'", "<message id='x'>tx</message>\n"));
  const auto result = catalogs_.load({a, b, t}, "en");
  ASSERT_EQ(result.status, 0) << result.text;
  EXPECT_EQ(result.text, "");
  EXPECT_EQ(names(catalogs_), (std::vector<std::string>{"", "tables"}));
  EXPECT_EQ(text(catalogs_, "", "x"), "ax");
  EXPECT_EQ(text(catalogs_, "", "y"), "by");
  EXPECT_EQ(text(catalogs_, "tables", "x"), "tx");
  EXPECT_EQ(catalogs_.catalog("").message("absent").size(), 0u);
  EXPECT_EQ(catalogs_.catalog("other").size(), 0u);

  // A catalogue handed out stays valid after the collection moves on.
  const catalog_t kept = catalogs_.catalog("");
  ASSERT_EQ(catalogs_.load({}, "en").status, 0);
  EXPECT_EQ(catalogs_.begin(), catalogs_.end());
  EXPECT_EQ(kept.message("x").as_string({}), "ax");
}

TEST_F(MessageCatalogsTest, DuplicateIdsNameBothPlaces) {
  const auto a = dir_.Write("a.xml", catalog_file("", "<message id='qorv-x'>1</message>\n"));
  const auto b = dir_.Write("b.xml", catalog_file("", "\n<message id='qorv-x'>2</message>\n"));
  EXPECT_EQ(catalogs_.load({a, b}, "en").text, b + ":4: duplicate message id 'qorv-x' (first defined at " + a + ":3)");

  // The same id in differently named catalogues is no clash.
  const auto named = dir_.Write("n.xml", catalog_file(" name='n'", "<message id='qorv-x'>3</message>\n"));
  EXPECT_EQ(catalogs_.load({a, named}, "en").status, 0);
}

TEST_F(MessageCatalogsTest, FailedLoadKeepsThePreviousCatalogues) {
  const auto good = dir_.Write("good.xml", catalog_file("", "<message id='x'>old</message>\n"));
  const auto other = dir_.Write("other.xml", catalog_file(" name='n'", "<message id='y'>new</message>\n"));
  const auto bad = dir_.Write("bad.xml", catalog_file("", "<message id='z'>{</message>\n"));
  ASSERT_EQ(catalogs_.load({good}, "en").status, 0);

  const auto result = catalogs_.load({other, bad}, "en");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.text.rfind(bad + ":3: message 'z': unterminated placeholder", 0), 0u) << result.text;
  EXPECT_EQ(names(catalogs_), std::vector<std::string>{""});
  EXPECT_EQ(text(catalogs_, "", "x"), "old");
}

TEST_F(MessageCatalogsTest, ReportsFilesThatCannotBeRead) {
  const std::string missing = (dir_.path() / "missing.xml").string();
  EXPECT_EQ(catalogs_.load({missing}, "en").text, missing + ": cannot open message catalog: No such file or directory");
  EXPECT_EQ(catalogs_.load({dir_.path().string()}, "en").text,
            dir_.path().string() + ": cannot read message catalog: Is a directory");

  const std::string fifo = (dir_.path() / "fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(catalogs_.load({fifo}, "en").text, fifo + ": cannot read message catalog: not a regular file");

  const auto huge = dir_.Write("huge.xml", "");
  ASSERT_EQ(truncate(huge.c_str(), (64 << 20) + 1), 0);
  EXPECT_EQ(catalogs_.load({huge}, "en").text, huge + ": message catalog is larger than 64 MiB");
}

TEST_F(MessageCatalogsTest, LanguageMustMatchWhenDeclared) {
  const auto en = dir_.Write("en.xml", catalog_file(" language='en'", "<message id='a'>A</message>\n"));
  const auto en_gb = dir_.Write("gb.xml", catalog_file(" language='en-GB'", ""));
  const auto any = dir_.Write("any.xml", catalog_file("", "<message id='b'>B</message>\n"));

  EXPECT_EQ(catalogs_.load({en, any}, "EN").status, 0);
  EXPECT_EQ(text(catalogs_, "", "a"), "A");
  EXPECT_EQ(catalogs_.load({en_gb}, "en").text, en_gb + ":2: catalog language 'en-GB' differs from the requested 'en'");
  EXPECT_EQ(catalogs_.load({any}, "de").status, 0);
}

}  // namespace
}  // namespace KVAL_2_18::i18n
