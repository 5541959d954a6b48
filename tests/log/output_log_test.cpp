#include "log/output_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <exception>
#include <filesystem>
#include <sstream>

#include "log/error_log.h"
#include "log/log_settings.h"
#include "tests/support/capture.h"
#include "tests/support/temp_dir.h"

namespace qorv::log {
namespace {

using qorv::testing::CaptureOutput;
using qorv::testing::ReadFile;
using qorv::testing::TempDir;

const auto kTrunc = std::ios_base::out | std::ios_base::trunc;

unsigned Mode(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 0777;
}

class OutputLogTest : public ::testing::Test {
 protected:
  void SetUp() override { OutputLog::createInstance(); }
  void TearDown() override {
    OutputLog::singleton_obj->streams.clear();
    OutputLog::singleton_obj->files.clear();
    OutputLog::singleton_obj->color = -1;
  }
};

TEST_F(OutputLogTest, ColourWrapsEachMessageOnColourStreamsOnly) {
  std::ostringstream console, file;
  OutputLog::singleton_obj->streams = {{&console, true}};
  OutputLog(OutputLog::YELLOW) << "disk slow";
  { OutputLog empty(OutputLog::GREEN); }  // must not leave the console coloured
  OutputLog(OutputLog::NO_COLOR) << "plain";
  EXPECT_EQ(console.str(), "\033[0;33mdisk slow\033[0m\033[0;32m\033[0mplain");

  OutputLog::singleton_obj->streams = {{&file, false}};
  OutputLog(OutputLog::RED) << "text";
  EXPECT_EQ(file.str(), "text");
  EXPECT_EQ(OutputLog::singleton_obj->color, -1);

  CaptureOutput capture;
  OutputLog::singleton_obj->streams = {{&console, true}};
  EXPECT_THROW(OutputLog(static_cast<OutputLog::Colors>(3)), std::exception);
  EXPECT_EQ(capture.err(), "invalid color 3\n");
  EXPECT_EQ(console.str(), "\033[0;33mdisk slow\033[0m\033[0;32m\033[0mplain");
}

TEST_F(OutputLogTest, WhatCannotBeOpenedFallsBackToStandardOutputAndKeepsItsPermissions) {
  TempDir dir;
  ASSERT_EQ(::mkdir((dir / "results").c_str(), 0755), 0);
  const struct {
    std::string file;
    bool opened;
    std::string err;
  } cases[] = {
      {"", true, ""},
      {dir / "missing/report.log", false,
       "Error opening output file " + (dir / "missing/report.log") + ".\n  No such file or directory\n"},
      {dir / "results", false, "Error opening output file " + (dir / "results") + ".\n  Is a directory\n"},
  };
  for (const auto& c : cases) {
    CaptureOutput capture;
    EXPECT_EQ(OutputLog::set_out_streams(c.file, kTrunc), c.opened) << c.file;
    OutputLog(OutputLog::GREEN) << "on the console";
    EXPECT_EQ(capture.out(), "on the console") << c.file;
    EXPECT_EQ(capture.err(), c.err);
  }
  EXPECT_EQ(Mode(dir / "results"), 0755u);
}

TEST_F(OutputLogTest, FirstWriterTruncatesLaterWritersAppendWithMode0660) {
  TempDir dir;
  const std::string file = dir.Write("report.log", "old content\n");
  const mode_t old_mask = ::umask(077);
  ASSERT_TRUE(OutputLog::set_out_streams(file, kTrunc));
  OutputLog(OutputLog::NO_COLOR) << "first\n";
  ASSERT_TRUE(OutputLog::set_out_streams(file, std::ios_base::out | std::ios_base::app));
  OutputLog(OutputLog::NO_COLOR) << "second\n";
  ::umask(old_mask);
  EXPECT_EQ(ReadFile(file), "first\nsecond\n");
  EXPECT_EQ(Mode(file), 0660u);
}

TEST_F(OutputLogTest, NamesAreStrippedAndExpandedButCommandsNeverRun) {
  TempDir work(true);
  const char* old_home = std::getenv("HOME");
  const std::string saved_home = old_home ? old_home : "";
  ::setenv("HOME", work.path().c_str(), 1);
  ::setenv("QORV_TEST_SUBDIR", "sub", 1);
  std::filesystem::create_directories("sub");
  EXPECT_TRUE(OutputLog::set_out_streams("  ~/$QORV_TEST_SUBDIR/report.log ", std::ios_base::out));
  OutputLog(OutputLog::NO_COLOR) << "expanded";
  EXPECT_TRUE(OutputLog::set_out_streams("$(touch pwned).log", std::ios_base::out));
  OutputLog::singleton_obj->files.clear();
  ::setenv("HOME", saved_home.c_str(), 1);
  EXPECT_EQ(ReadFile("sub/report.log"), "expanded");
  EXPECT_TRUE(std::filesystem::exists("$(touch pwned).log"));
  EXPECT_FALSE(std::filesystem::exists("pwned"));
}

TEST(ErrorLogTest, WrittenWhenItsLevelIsAtMostLogLevel) {
  const int saved_level = LOG_LEVEL, saved_output = LOG_OUTPUT;
  LOG_OUTPUT = 0;
  std::string shown;
  for (int level : {5, 6, 7}) {
    LOG_LEVEL = level;
    CaptureOutput capture;
    ErrorLog(6) << "at " << level;
    shown += capture.err();
  }
  LOG_LEVEL = saved_level;
  LOG_OUTPUT = saved_output;
  EXPECT_EQ(shown, "at 6\nat 7\n");
}

}  // namespace
}  // namespace qorv::log
