#include "postprocessor/intake/message_translator.h"

#include <gtest/gtest.h>

#include "postprocessor/intake/message_table.h"
#include "tests/intake/catalog_fixture.h"

namespace qorv::postprocessor {
namespace {

using qorv::testing::AddCatalog;
using qorv::testing::CatalogXml;
using qorv::testing::TempDir;

class MessageTranslatorTest : public ::testing::Test {
 protected:
  // Loads the messages as the only catalogue of one definition.
  void Load(const std::map<std::string, std::string>& messages) {
    dir_.Write("messages.xml", CatalogXml(messages));
    auto attributes = std::make_shared<FWDAttributes>();
    AddCatalog(*attributes, "fwd", Dir(), "messages.xml");
    MessageTranslator::LoadCatalogs(attributes);
  }
  std::string Dir() const { return dir_.path().string() + "/"; }

  TempDir dir_;
};

TEST_F(MessageTranslatorTest, TranslatesWithNumberedArgumentsAndTidiesTheText) {
  Load({{"disk-full", "Disk {1} on {0} is {2}% full"}, {"spacey", "  Too   many  spaces {0}  "}});
  EXPECT_EQ(MessageTranslator::Translate("disk-full", {"node7", "/scratch", 98.5}),
            "Disk /scratch on node7 is 98.5% full");
  // Ids that differ only in their sub-id share the text.
  EXPECT_EQ(MessageTranslator::Translate("disk-full#sda", {"n1", "/", 99}), "Disk / on n1 is 99% full");
  EXPECT_EQ(MessageTranslator::Translate("spacey", {"x"}), "Too many spaces x");
  // Arguments are tidied with the text: ends trimmed, runs of blanks made one.
  EXPECT_EQ(MessageTranslator::Translate("spacey", {"\t a  \t b\n"}), "Too many spaces \t a \t b");
  EXPECT_EQ(MessageTranslator::Translate("spacey", {" \n "}), "Too many spaces");
  // A missing argument stays visible; unknown ids come back unchanged.
  EXPECT_EQ(MessageTranslator::Translate("disk-full", {"a"}), "Disk {1} on a is {2}% full");
  EXPECT_EQ(MessageTranslator::Translate("unknown#sub-7", {"arg"}), "unknown#sub-7");
  EXPECT_EQ(MessageTranslator::Translate("", {}), "");
}

TEST_F(MessageTranslatorTest, PathsAreJoinedDirectlyAndLoadedOnce) {
  dir_.Write("site-messages.xml", CatalogXml({{"m", "from the joined path"}}));
  auto attributes = std::make_shared<FWDAttributes>();
  // Two definitions name the same file: loading it twice would be a
  // duplicate id, so it must be loaded once.
  AddCatalog(*attributes, "a", Dir() + "site-", "messages.xml");
  AddCatalog(*attributes, "b", Dir() + "site-", "messages.xml");
  MessageTranslator::LoadCatalogs(attributes);
  EXPECT_EQ(MessageTranslator::Translate("m", {}), "from the joined path");
}

TEST_F(MessageTranslatorTest, FailedLoadsThrowAndKeepTheCatalogueInForce) {
  Load({{"m", "still here"}});
  dir_.Write("broken.xml",
             "<?xml version=\"1.0\"?>\n<message-catalog>\n  <message id=\"x\">{oops}</message>\n"
             "</message-catalog>\n");
  dir_.Write("named.xml", CatalogXml({{"n", "named"}}, " name=\"site\""));
  const std::pair<std::string, std::string> cases[] = {
      {"broken.xml", Dir() + "broken.xml:3"},
      {"named.xml", "xmc_file_loader::load_error - Catalog name attribute not supported"},
      {"absent.xml", Dir() + "absent.xml"},
  };
  for (const auto& [file, what] : cases) {
    auto attributes = std::make_shared<FWDAttributes>();
    AddCatalog(*attributes, "fwd", Dir(), file);
    try {
      MessageTranslator::LoadCatalogs(attributes);
      ADD_FAILURE() << file << " loaded";
    } catch (const KVAL_2_18::i18n::CatalogError& error) {
      EXPECT_NE(std::string(error.what()).find(what), std::string::npos) << error.what();
    }
  }
  EXPECT_EQ(MessageTranslator::Translate("m", {}), "still here");
}

TEST_F(MessageTranslatorTest, NoCatalogueFilesLeaveAnEmptyCatalogue) {
  Load({{"m", "text"}});
  MessageTranslator::LoadCatalogs(std::make_shared<FWDAttributes>());
  EXPECT_EQ(MessageTranslator::Translate("m", {}), "m");
  MessageTranslator::LoadCatalogs(nullptr);
  EXPECT_EQ(MessageTranslator::Translate("m", {}), "m");
}

TEST_F(MessageTranslatorTest, TableRowsAndHeaders) {
  Load({{"cell-slot", "{0}"}, {"cell-size", "{1} GiB"}});
  MessageTable::table_map = {{"dimm-missing", {{"Slot", "cell-slot"}, {"Size", "cell-size"}}}, {"empty", {}}};

  EXPECT_TRUE(MessageTable::IsTable("dimm-missing#A1"));
  EXPECT_FALSE(MessageTable::IsTable("cell-slot"));
  EXPECT_EQ(MessageTable::GetHeaders("dimm-missing#A1"), (std::vector<std::string>{"Slot", "Size"}));
  EXPECT_EQ(MessageTable::GetRow("dimm-missing#x", {"A1", 16}), (std::vector<std::string>{"A1", "16 GiB"}));

  EXPECT_TRUE(MessageTable::IsTable("empty"));
  EXPECT_TRUE(MessageTable::GetHeaders("empty").empty());
  EXPECT_TRUE(MessageTable::GetRow("empty", {"x"}).empty());
  EXPECT_TRUE(MessageTable::GetRow("not-a-table", {"x"}).empty());
  MessageTable::table_map.clear();
}

}  // namespace
}  // namespace qorv::postprocessor
