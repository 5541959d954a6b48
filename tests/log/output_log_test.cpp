#include "log/output_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <exception>
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

class OutputLogTest : public ::testing::Test {
 protected:
  void SetUp() override { OutputLog::createInstance(); }
  void TearDown() override {
    OutputLog::singleton_obj->streams.clear();
    OutputLog::singleton_obj->files.clear();
    OutputLog::singleton_obj->color = -1;
  }
  // Makes console the only stream, with colour enabled.
  void UseColourConsole() { OutputLog::singleton_obj->streams = {{&console_, true}}; }

  std::ostringstream console_;
};

TEST_F(OutputLogTest, ColourWrapsOneMessageOnColourStreamsOnly) {
  UseColourConsole();
  OutputLog(OutputLog::YELLOW) << "disk slow";
  EXPECT_EQ(console_.str(), "\033[0;33mdisk slow\033[0m");

  std::ostringstream file;
  OutputLog::singleton_obj->streams = {{&file, false}};
  OutputLog(OutputLog::RED) << "text";
  EXPECT_EQ(file.str(), "text");
  EXPECT_EQ(OutputLog::singleton_obj->color, -1);
}

TEST_F(OutputLogTest, EmptyColouredMessageDoesNotLeaveTheConsoleColoured) {
  UseColourConsole();
  { OutputLog message(OutputLog::GREEN); }
  EXPECT_EQ(console_.str(), "\033[0;32m\033[0m");
  EXPECT_EQ(OutputLog::singleton_obj->color, -1);
  OutputLog(OutputLog::NO_COLOR) << "plain";
  EXPECT_EQ(console_.str(), "\033[0;32m\033[0mplain");
}

TEST_F(OutputLogTest, InvalidColourIsReportedAndThrown) {
  UseColourConsole();
  CaptureOutput capture;
  EXPECT_THROW(OutputLog(static_cast<OutputLog::Colors>(3)), std::exception);
  EXPECT_EQ(capture.err(), "invalid color 3\n");
  EXPECT_EQ(console_.str(), "");
}

TEST_F(OutputLogTest, EmptyNameSelectsStandardOutput) {
  CaptureOutput capture;
  EXPECT_TRUE(OutputLog::set_out_streams("", std::ios_base::out | std::ios_base::trunc));
  OutputLog(OutputLog::GREEN) << "on the console";
  EXPECT_EQ(capture.out(), "on the console");
  EXPECT_EQ(capture.err(), "");
}

TEST_F(OutputLogTest, UnopenableFileFallsBackToStandardOutput) {
  TempDir dir;
  const std::string file = dir / "missing/report.log";
  CaptureOutput capture;
  EXPECT_FALSE(OutputLog::set_out_streams(file, std::ios_base::out | std::ios_base::trunc));
  OutputLog(OutputLog::NO_COLOR) << "still shown";
  EXPECT_EQ(capture.err(), "Error opening output file " + file + ".\n  No such file or directory\n");
  EXPECT_EQ(capture.out(), "still shown");
}

TEST_F(OutputLogTest, WhatCannotBeOpenedKeepsItsPermissions) {
  TempDir dir;
  const std::string directory = dir / "results";
  ASSERT_EQ(::mkdir(directory.c_str(), 0755), 0);
  CaptureOutput capture;
  EXPECT_FALSE(OutputLog::set_out_streams(directory, std::ios_base::out | std::ios_base::trunc));
  struct stat info {};
  ASSERT_EQ(::stat(directory.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0755u);
}

TEST_F(OutputLogTest, FirstWriterTruncatesLaterWritersAppendWithMode0660) {
  TempDir dir;
  const std::string file = dir.Write("report.log", "old content\n");
  const mode_t old_mask = ::umask(077);
  ASSERT_TRUE(OutputLog::set_out_streams(file, std::ios_base::out | std::ios_base::trunc));
  OutputLog(OutputLog::NO_COLOR) << "first\n";
  ASSERT_TRUE(OutputLog::set_out_streams(file, std::ios_base::out | std::ios_base::app));
  OutputLog(OutputLog::NO_COLOR) << "second\n";
  ::umask(old_mask);

  EXPECT_EQ(ReadFile(file), "first\nsecond\n");
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0660u);
}

TEST_F(OutputLogTest, TildeAndVariablesAreExpandedButCommandsNeverRun) {
  TempDir dir;
  const char* old_home = std::getenv("HOME");
  const std::string saved_home = old_home ? old_home : "";
  ::setenv("HOME", dir.path().c_str(), 1);
  ::setenv("QORV_TEST_SUBDIR", "sub", 1);
  std::filesystem::create_directories(dir / "sub");

  EXPECT_TRUE(OutputLog::set_out_streams("  ~/$QORV_TEST_SUBDIR/report.log ", std::ios_base::out));
  OutputLog(OutputLog::NO_COLOR) << "expanded";
  OutputLog::singleton_obj->files.clear();
  EXPECT_EQ(ReadFile(dir / "sub/report.log"), "expanded");

  // A command substitution is taken literally and never executed.
  TempDir work(true);
  const std::string evil = "$(touch pwned).log";
  EXPECT_TRUE(OutputLog::set_out_streams(evil, std::ios_base::out));
  OutputLog::singleton_obj->files.clear();
  EXPECT_TRUE(std::filesystem::exists(evil));
  EXPECT_FALSE(std::filesystem::exists("pwned"));

  ::setenv("HOME", saved_home.c_str(), 1);
}

TEST(ErrorLogTest, LevelAgainstLogLevel) {
  const int saved_level = LOG_LEVEL;
  const int saved_output = LOG_OUTPUT;
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
