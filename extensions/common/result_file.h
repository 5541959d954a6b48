// Result files that extensions write themselves. The driver opens files
// only for the extensions of its output-file table; any other extension
// writes to the console, so an extension with a file of its own puts it
// beside the results log, named like it, and writes it here.
// Header only; each extension links it in.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "postprocessor/host/fs.h"
#include "postprocessor/host/str.h"

namespace qorv::extensions {

// The results log's name (the run data's output_file) with the extension of
// its file name replaced by suffix, after "~" and variable expansion:
// "out/run.log" and ".junit.xml" give "out/run.junit.xml", the default
// "qorv_results.log" gives "qorv_results.junit.xml". A dot in a directory or
// leading a file name does not start an extension.
inline std::string BesideResultsLog(const std::string& output_file, const std::string& suffix) {
  return str::replace_extension(str::wordexp(str::strip(output_file, "")), suffix);
}

// A result file written whole or not at all while it is produced: text
// goes into a temporary file in the target's directory through a buffer of
// about 1 MiB, and Commit renames it over the target, so a reader never
// sees half a file and a large document never has to be held in memory.
// The file gets mode 0660, like the other result files. A writer that is
// not committed (destroyed early, or after an error) removes its temporary
// file; any earlier file at the target stays as it was. The first error
// ends the writing: later text is dropped and Commit returns the message.
// Single-threaded; not copyable.
class AtomicFileWriter {
 public:
  static constexpr std::size_t kBufferSize = std::size_t{1} << 20;

  // Creates the target's directory and the temporary file; a failure there
  // is the writer's problem() from then on.
  explicit AtomicFileWriter(std::string path) : path_(std::move(path)) {
    const std::string directory = str::dirname(path_);
    if (!fs::try_makedirs(directory)) {
      problem_ = "cannot create the directory of " + path_;
      return;
    }
    temporary_ = directory + "/." + str::basename(path_) + ".XXXXXX";
    fd_ = ::mkstemp(temporary_.data());
    if (fd_ < 0) {
      problem_ = "cannot create a temporary file beside " + path_ + ": " + std::strerror(errno);
      temporary_.clear();
      return;
    }
    buffer_.reserve(kBufferSize);
  }
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;
  ~AtomicFileWriter() { Abandon(); }

  const std::string& path() const { return path_; }
  // "" while all is well, else a message naming the file and the problem.
  const std::string& problem() const { return problem_; }

  // Appends text; a text larger than the buffer goes straight to the file.
  void Append(std::string_view text) {
    if (buffer_.size() + text.size() < kBufferSize) {
      buffer_.append(text);
      return;
    }
    Drain();
    if (text.size() < kBufferSize) {
      buffer_.append(text);
    } else if (problem_.empty()) {
      WriteAll(text);
    }
  }

  // The buffer itself, for functions that append to a std::string (the
  // escaping helpers); a full buffer is written out first. Take it afresh
  // for each piece (a line, an element): what is appended through one
  // reference is held in memory until the next call.
  std::string& Out() {
    if (buffer_.size() >= kBufferSize) Drain();
    return buffer_;
  }

  // Writes out the rest, sets the mode, closes and renames the temporary
  // file over the target. Returns "" on success, else problem() (nothing
  // is left behind then). Call it once.
  std::string Commit() {
    Drain();
    if (problem_.empty() && ::fchmod(fd_, 0660) != 0) problem_ = "cannot set the mode of " + path_;
    if (fd_ >= 0) {
      const int closed = ::close(fd_);
      fd_ = -1;
      if (closed != 0 && problem_.empty()) problem_ = "cannot write " + path_ + ": " + std::strerror(errno);
    }
    if (problem_.empty() && std::rename(temporary_.c_str(), path_.c_str()) != 0) {
      problem_ = "cannot replace " + path_ + ": " + std::strerror(errno);
    }
    if (problem_.empty()) temporary_.clear();
    Abandon();
    return problem_;
  }

 private:
  void Drain() {
    if (problem_.empty()) WriteAll(buffer_);
    buffer_.clear();
  }

  // On an error (a full disk, a file size limit) the temporary file goes at
  // once, so that it does not hold the space until Commit.
  void WriteAll(std::string_view text) {
    while (!text.empty()) {
      const ssize_t written = ::write(fd_, text.data(), text.size());
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) {
        problem_ = "cannot write " + path_ + ": " + std::strerror(errno);
        Abandon();
        return;
      }
      text.remove_prefix(static_cast<std::size_t>(written));
    }
  }

  void Abandon() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temporary_.empty()) std::remove(temporary_.c_str());
    temporary_.clear();
  }

  std::string path_;
  std::string temporary_;  // "" once renamed or removed
  int fd_ = -1;
  std::string buffer_;
  std::string problem_;
};

}  // namespace qorv::extensions
