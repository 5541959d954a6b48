// Test support: captures what the process writes to standard output and
// standard error (file descriptors 1 and 2, C++ streams flushed) while the
// object lives.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "tests/support/temp_dir.h"

namespace qorv::testing {

class CaptureOutput {
 public:
  CaptureOutput() : out_(Redirect(STDOUT_FILENO, dir_ / "out")), err_(Redirect(STDERR_FILENO, dir_ / "err")) {}
  ~CaptureOutput() { Stop(); }
  CaptureOutput(const CaptureOutput&) = delete;
  CaptureOutput& operator=(const CaptureOutput&) = delete;

  // Ends the capture (once) and keeps what was written.
  void Stop() {
    if (stopped_) return;
    stopped_ = true;
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    ::dup2(out_, STDOUT_FILENO);
    ::dup2(err_, STDERR_FILENO);
    ::close(out_);
    ::close(err_);
    stdout_ = ReadFile(dir_ / "out");
    stderr_ = ReadFile(dir_ / "err");
  }

  const std::string& out() {
    Stop();
    return stdout_;
  }
  const std::string& err() {
    Stop();
    return stderr_;
  }

 private:
  static int Redirect(int fd, const std::string& file) {
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    const int saved = ::dup(fd);
    std::FILE* target = std::fopen(file.c_str(), "w");
    ::dup2(::fileno(target), fd);
    std::fclose(target);
    return saved;
  }

  TempDir dir_;
  int out_;
  int err_;
  bool stopped_ = false;
  std::string stdout_;
  std::string stderr_;
};

}  // namespace qorv::testing
