#include "log/output_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <set>
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
      {dir / "results", false,
       "Error opening output file " + (dir / "results") + ".\n  " + (dir / "results") +
           " is a directory, not a file the reports may replace\n"},
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

// A name is stripped and its variables expanded (never its commands: see
// str::wordexp) before it is opened.
TEST_F(OutputLogTest, FirstWriterTruncatesLaterWritersAppendWithMode0660) {
  TempDir dir;
  const std::string file = dir.Write("report.log", "old content\n");
  ::setenv("QORV_TEST_LOG_DIR", dir.path().c_str(), 1);
  const mode_t old_mask = ::umask(077);
  ASSERT_TRUE(OutputLog::set_out_streams(file, kTrunc));
  OutputLog(OutputLog::NO_COLOR) << "first\n";
  ASSERT_TRUE(OutputLog::set_out_streams("  $QORV_TEST_LOG_DIR/report.log ", std::ios_base::out | std::ios_base::app));
  OutputLog(OutputLog::NO_COLOR) << "second\n";
  ::umask(old_mask);
  EXPECT_EQ(ReadFile(file), "first\nsecond\n");
  EXPECT_EQ(Mode(file), 0660u);
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

// The files of a run appear together when it commits and not at all when
// it discards; a link at a target is replaced, a device or FIFO refused, and
// nothing is left beside the targets either way.
TEST_F(OutputLogTest, RunFilesAppearWholeTogetherOrNotAtAll) {
  TempDir dir;
  const std::string log_file = dir / "run.log";
  const std::string json = dir / "run.json";
  std::ofstream(log_file) << "yesterday";
  std::ofstream(dir / "victim") << "mine";
  ::chmod((dir / "victim").c_str(), 0600);
  std::filesystem::create_symlink("victim", json);
  const auto names = [&dir] {
    std::set<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) found.insert(entry.path().filename());
    return found;
  };
  const mode_t umask_before = ::umask(077);
  for (const bool commit : {false, true}) {
    RunFiles::Begin();
    ASSERT_TRUE(OutputLog::set_out_streams(log_file, kTrunc));
    OutputLog(OutputLog::NO_COLOR) << "first report\n";
    ASSERT_TRUE(OutputLog::set_out_streams(json, kTrunc));
    OutputLog(OutputLog::NO_COLOR) << "{}";
    ASSERT_TRUE(OutputLog::set_out_streams(log_file, std::ios_base::out | std::ios_base::app));
    OutputLog(OutputLog::NO_COLOR) << "second report\n";
    ASSERT_TRUE(OutputLog::set_out_streams("", kTrunc));
    EXPECT_EQ(ReadFile(log_file), "yesterday");  // nothing shows before the run commits
    if (commit) {
      EXPECT_EQ(RunFiles::CommitAll(), "");
    } else {
      RunFiles::DiscardAll();
    }
    EXPECT_EQ(names(), (std::set<std::string>{"run.log", "run.json", "victim"}));
  }
  ::umask(umask_before);
  EXPECT_EQ(ReadFile(log_file), "first report\nsecond report\n");
  EXPECT_EQ(Mode(log_file), 0660u);
  EXPECT_FALSE(std::filesystem::is_symlink(json));
  EXPECT_EQ(ReadFile(json), "{}");
  EXPECT_EQ(ReadFile(dir / "victim"), "mine");
  EXPECT_EQ(Mode(dir / "victim"), 0600u);

  // A file of the run is not staged twice, under any spelling of its name:
  // the later would replace the earlier. A staged file takes a new mode
  // before it is placed.
  RunFiles::Begin();
  ASSERT_TRUE(OutputLog::set_out_streams(log_file, kTrunc));
  OutputLog(OutputLog::NO_COLOR) << "today\n";
  const std::string twice = dir.path().string() + "//./run.log";
  EXPECT_EQ(RunFiles::Stage(twice)->problem(), twice + " holds another result of this run already");
  const auto metrics = RunFiles::Stage(dir / "run.prom");
  metrics->stream() << "m 1\n";
  EXPECT_EQ(metrics->SetMode(0640), "");
  ASSERT_TRUE(OutputLog::set_out_streams("", kTrunc));
  EXPECT_EQ(RunFiles::CommitAll(), "");
  EXPECT_EQ(ReadFile(log_file), "today\n");
  EXPECT_EQ(Mode(dir / "run.prom"), 0640u);

  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0640), 0);
  CaptureOutput capture;
  RunFiles::Begin();
  EXPECT_FALSE(OutputLog::set_out_streams(dir / "fifo", kTrunc));
  RunFiles::DiscardAll();
  EXPECT_NE(capture.err().find("fifo is a FIFO, not a file the reports may replace"), std::string::npos);
  EXPECT_EQ(Mode(dir / "fifo"), 0640u);
}

}  // namespace
}  // namespace qorv::log
