#include "postprocessor/host/str.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "postprocessor/host/fs.h"
#include "postprocessor/host/util_extensions.h"
#include "tests/support/temp_dir.h"

namespace qorv::str {
namespace {

using qorv::testing::TempDir;

// Each function of one text against rows of {input, expected}; neither
// expansion runs a command.
TEST(StrTest, PathsLibraryNamesIdsTrimmingCaseAndExpansion) {
  // The expansion, or "error: " and the reason it is refused.
  const auto strictly = [](const std::string& path) {
    std::string error;
    const std::string expanded = expand_strictly(path, error);
    return error.empty() ? expanded : "error: " + error;
  };
  const struct {
    const char* name;
    std::function<std::string(const std::string&)> fn;
    std::vector<std::pair<std::string, std::string>> rows;
  } cases[] = {
      // clang-format off
      {"dirname", dirname,
       {{"out/run.log", "out"}, {"run.log", "."}, {"/run.log", "/"}, {"a/b/", "a"}, {"a//b", "a"}, {"", "."}}},
      {"basename", basename, {{"out/run.log", "run.log"}, {"a/b/", "b"}, {"/", "/"}}},
      {"remove_path", remove_path, {{"a/b/", ""}, {"a/b/c.so", "c.so"}}},
      {"get_lib_name", get_lib_name,
       {{"/opt/ext/libcategory_log.so", "category_log"}, {"/opt/ext/libcategory_log.so.1.2", "category_log"},
        {"qorv_json.so", "qorv_json"}, {"lib.so", "lib"}, {"libreports", "reports"},
        {"libx.solid.so", "x.solid"}, {"libx.so.bak", "x.so.bak"}}},
      {"remove_sub_id", remove_sub_id,
       {{"disk-full#sda1", "disk-full"}, {"disk-full#a#b", "disk-full"}, {"disk-full", "disk-full"}, {"#x", ""}}},
      {"strip", [](const std::string& s) { return strip(s); }, {{" \t a  b \n", "a  b"}, {"   ", ""}}},
      {"strip x", [](const std::string& s) { return strip(s, "x"); }, {{"xxaxx", "a"}}},
      {"rstrip", [](const std::string& s) { return rstrip(s); }, {{"  a  ", "  a"}}},
      {"fstrip", [](const std::string& s) { return fstrip(s); }, {{"  a  ", "a  "}}},
      {"squeeze", [](const std::string& s) { return squeeze(s, ' '); },
       {{"a   b  c ", "a b c "}, {"  a", " a"}, {"a b  ", "a b "}, {"    ", " "}, {"a b", "a b"}, {"", ""}}},
      {"squeeze x", [](const std::string& s) { return squeeze(s, 'x'); }, {{"axxbx  x", "axbx  x"}}},
      {"upper", upper, {{"Node-7é", "NODE-7é"}}},
      {"escape_controls", [](const std::string& s) { return escape_controls(s, false); },
       {{"a\\x1b\t\xc2\xa0 \xc2 \xff\xc2", "a\\x1b\t\xc2\xa0 \xc2 \xff\xc2"},
        {"\x1b]0;t\a\x1b[2J", "\\x1b]0;t\\x07\\x1b[2J"}, {"a\nb\r", "a\\x0ab\\x0d"},
        {std::string("\0\x1f\x7f", 3), "\\x00\\x1f\\x7f"},
        {"\xc2\x9b" "1m\xc2\x80\xc2\x9f\xc2\xc2\x85", "\\xc2\\x9b1m\\xc2\\x80\\xc2\\x9f\xc2\\xc2\\x85"}}},
      {"escape_controls keeping newlines", [](const std::string& s) { return escape_controls(s, true); },
       {{"a\n\x1b\n", "a\n\\x1b\n"}}},
      {"lower", lower, {{"NODE-7", "node-7"}}},
      {"wordexp", wordexp,
       {{"$QORV_TEST_DIR/run.log", "/data/run.log"}, {"${QORV_TEST_DIR}x", "/datax"},
        {"a$QORV_TEST_UNSET.b", "a.b"}, {"${QORV_TEST_DIR", "${QORV_TEST_DIR"}, {"cost$5", "cost$5"},
        {"$(rm -rf x)", "$(rm -rf x)"}, {"`id`.log", "`id`.log"}, {"a b*", "a b*"},
        {"~qorv-no-such-user/x", "~qorv-no-such-user/x"}, {"~/out.log", "/home/admin/out.log"},
        {"~", "/home/admin"}, {"x~", "x~"}}},
      {"expand_strictly", strictly,
       {{"$QORV_TEST_DIR/run.log", "/data/run.log"}, {"${QORV_TEST_DIR}x/~", "/datax/~"},
        {"~/out.log", "/home/admin/out.log"}, {"a/$QORV_TEST_UNSET/w.log", "error: $QORV_TEST_UNSET is not set"},
        {"~qorv-no-such-user/x", "error: '~qorv-no-such-user' names no home directory"},
        {"$(touch x)", "error: '$(touch x)': command substitution ('$(' or '`') is never run"},
        {"a`id`", "error: 'a`id`': command substitution ('$(' or '`') is never run"},
        {"cost$5", "error: 'cost$5' holds a '$' that names no variable"},
        {"${QORV_TEST_DIR", "error: '${QORV_TEST_DIR' holds a '$' that names no variable"},
        {"$QORV_TEST_DOLLAR/x",
         "error: '$QORV_TEST_DOLLAR/x' expands to '/d/$QORV_TEST_DIR/x', which would expand again"},
        {"$QORV_TEST_TILDE", "error: '$QORV_TEST_TILDE' expands to '~/x', which would expand again"}}},
      // clang-format on
  };
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  ::setenv("HOME", "/home/admin", 1);
  ::setenv("QORV_TEST_DIR", "/data", 1);
  ::setenv("QORV_TEST_DOLLAR", "/d/$QORV_TEST_DIR", 1);
  ::setenv("QORV_TEST_TILDE", "~/x", 1);
  ::unsetenv("QORV_TEST_UNSET");
  for (const auto& c : cases) {
    for (const auto& [input, expected] : c.rows) EXPECT_EQ(c.fn(input), expected) << c.name << "(\"" << input << "\")";
  }
  ::setenv("HOME", home.c_str(), 1);
}

// The view is the copy's text and lies in the id it was given, so lookups
// through it neither copy nor outlive the id.
TEST(StrTest, UsableIdViewsTheIdRemoveSubIdCopies) {
  const std::vector<std::string> ids = {"disk#sda1", "disk#a#b", "disk", "#x", "", std::string("a\0b#c", 5)};
  for (const std::string& id : ids) {
    const std::string_view view = usable_id(id);
    EXPECT_EQ(view, remove_sub_id(id)) << id;
    EXPECT_EQ(view.data(), id.data()) << id;
  }
  EXPECT_EQ(usable_id(ids.back()), std::string_view("a\0b", 3));
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
