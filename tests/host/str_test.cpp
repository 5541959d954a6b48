#include "postprocessor/host/str.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "postprocessor/host/fs.h"
#include "postprocessor/host/util_extensions.h"
#include "tests/support/temp_dir.h"

namespace qorv::str {
namespace {

using qorv::testing::TempDir;

TEST(StrTest, PathParts) {
  EXPECT_EQ(dirname("out/run.log"), "out");
  EXPECT_EQ(dirname("run.log"), ".");
  EXPECT_EQ(dirname("/run.log"), "/");
  EXPECT_EQ(dirname("a/b/"), "a");
  EXPECT_EQ(dirname("a//b"), "a");
  EXPECT_EQ(dirname(""), ".");
  EXPECT_EQ(basename("out/run.log"), "run.log");
  EXPECT_EQ(basename("a/b/"), "b");
  EXPECT_EQ(basename("/"), "/");
  EXPECT_EQ(remove_path("a/b/"), "");
  EXPECT_EQ(remove_path("a/b/c.so"), "c.so");
}

TEST(StrTest, LibraryNames) {
  EXPECT_EQ(get_lib_name("/opt/ext/libcategory_log.so"), "category_log");
  EXPECT_EQ(get_lib_name("/opt/ext/libcategory_log.so.1.2"), "category_log");
  EXPECT_EQ(get_lib_name("qorv_json.so"), "qorv_json");
  EXPECT_EQ(get_lib_name("lib.so"), "lib");
  EXPECT_EQ(get_lib_name("libreports"), "reports");
  EXPECT_EQ(get_lib_name("libx.solid.so"), "x.solid");
  EXPECT_EQ(get_lib_name("libx.so.bak"), "x.so.bak");
}

TEST(StrTest, SubIds) {
  EXPECT_EQ(remove_sub_id("disk-full#sda1"), "disk-full");
  EXPECT_EQ(remove_sub_id("disk-full#a#b"), "disk-full");
  EXPECT_EQ(remove_sub_id("disk-full"), "disk-full");
  EXPECT_EQ(remove_sub_id("#x"), "");
}

TEST(StrTest, TrimSqueezeAndCase) {
  EXPECT_EQ(strip(" \t a  b \n"), "a  b");
  EXPECT_EQ(strip("xxaxx", "x"), "a");
  EXPECT_EQ(rstrip("  a  "), "  a");
  EXPECT_EQ(fstrip("  a  "), "a  ");
  EXPECT_EQ(strip("   "), "");
  EXPECT_EQ(squeeze("a   b  c ", ' '), "a b c ");
  EXPECT_EQ(upper("Node-7é"), "NODE-7é");
  EXPECT_EQ(lower("NODE-7"), "node-7");
}

TEST(StrTest, WordExpansionNeverRunsCommands) {
  ::setenv("QORV_TEST_DIR", "/data", 1);
  ::unsetenv("QORV_TEST_UNSET");
  EXPECT_EQ(wordexp("$QORV_TEST_DIR/run.log"), "/data/run.log");
  EXPECT_EQ(wordexp("${QORV_TEST_DIR}x"), "/datax");
  EXPECT_EQ(wordexp("a$QORV_TEST_UNSET.b"), "a.b");
  EXPECT_EQ(wordexp("${QORV_TEST_DIR"), "${QORV_TEST_DIR");
  EXPECT_EQ(wordexp("cost$5"), "cost$5");
  EXPECT_EQ(wordexp("$(rm -rf x)"), "$(rm -rf x)");
  EXPECT_EQ(wordexp("`id`.log"), "`id`.log");
  EXPECT_EQ(wordexp("~qorv-no-such-user/x"), "~qorv-no-such-user/x");
  EXPECT_EQ(wordexp("a b*"), "a b*");

  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  ::setenv("HOME", "/home/admin", 1);
  EXPECT_EQ(wordexp("~/out.log"), "/home/admin/out.log");
  EXPECT_EQ(wordexp("~"), "/home/admin");
  EXPECT_EQ(wordexp("x~"), "x~");
  ::setenv("HOME", home.c_str(), 1);
}

TEST(StrTest, AlignAndJoin) {
  EXPECT_EQ(AlignRight({"7", "1200", "35"}, ""), (std::vector<std::string>{"   7", "1200", "  35"}));
  EXPECT_EQ(AlignRight({"7", "12"}, "> "), (std::vector<std::string>{">  7", "> 12"}));
  EXPECT_EQ(join_set_strings({"b", "a", "c"}), "a, b, c");
  EXPECT_EQ(join_set_strings({}), "");
}

TEST(StrTest, TreeDrawing) {
  auto make = [](const std::string& name) {
    auto node = std::make_shared<FwdNode>();
    node->fwd = std::make_shared<Fwd>();
    node->fwd->name = name;
    return node;
  };
  auto a = make("A"), b = make("B"), c = make("C"), d = make("D"), e = make("E"), f = make("F");
  a->dependencies = {{b}, {c}};
  b->dependencies = {{d, e}};
  c->dependencies = {{f}};

  const auto lines = a->create_tree({}, true);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], (TreeLine{"A", {true}}));
  EXPECT_EQ(lines[1], (TreeLine{"B", {true, false}}));
  EXPECT_EQ(lines[4], (TreeLine{"C", {false, true}}));
  EXPECT_EQ(format_tree(lines, "   ", "`- ", "|- ", "|  "),
            "A\n"
            "|- B\n"
            "|  |- D\n"
            "|  `- E\n"
            "`- C\n"
            "   `- F\n");
  EXPECT_EQ(format_tree(make("solo")->create_tree({}, true), "   ", "`- ", "|- ", "|  "), "solo\n");
}

TEST(HostServicesTest, ScanFilesKeepsNameOrderAndSkipsMissing) {
  TempDir dir;
  dir.Write("libalpha.so", "");
  dir.Write("beta.so", "");
  dir.Write("libgamma.so", "");
  dir.Write("gamma.so", "");
  std::filesystem::create_directories(dir / "libdelta.so");  // a directory, not a library

  const std::string base = dir.path().string();
  EXPECT_EQ(util_extensions::scan_files(base, {"gamma", "missing", "beta", "alpha", "delta", "../alpha", ""}),
            (std::vector<std::string>{base + "/libgamma.so", base + "/beta.so", base + "/libalpha.so"}));
  EXPECT_EQ(util_extensions::scan_files(base + "/", {"beta"}), (std::vector<std::string>{base + "/beta.so"}));

  TempDir work(true);
  work.Write("libhere.so", "");
  EXPECT_EQ(util_extensions::scan_files("", {"here"}), (std::vector<std::string>{"./libhere.so"}));
}

TEST(HostServicesTest, MakeDirectories) {
  TempDir dir;
  EXPECT_TRUE(fs::try_makedirs(dir / "a/b/c"));
  EXPECT_TRUE(std::filesystem::is_directory(dir / "a/b/c"));
  EXPECT_TRUE(fs::try_makedirs(dir / "a/b"));
  dir.Write("file", "x");
  EXPECT_FALSE(fs::try_makedirs(dir / "file"));
  EXPECT_FALSE(fs::try_makedirs(dir / "file/sub"));
  EXPECT_EQ(fs::abspath("/a/./b/../c"), "/a/c");
  EXPECT_FALSE(fs::selfpath().empty());
}

}  // namespace
}  // namespace qorv::str
