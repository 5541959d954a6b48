// Result files that extensions write themselves. The driver opens files
// only for the extensions of its output-file table; any other extension
// writes to the console, so an extension with a file of its own puts it
// beside the results log, named like it, and writes it here.
// Header only; each extension links it in.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "log/staged_file.h"
#include "postprocessor/host/fs.h"
#include "postprocessor/host/str.h"

namespace qorv::extensions {

// The results log's name (the run data's output_file) with the extension of
// its file name replaced by suffix, after "~" and variable expansion:
// "out/run.log" and ".junit.xml" give "out/run.junit.xml", the default
// "qorv_results.log" gives "qorv_results.junit.xml". A dot in a directory or
// leading a file name does not start an extension. For a file the host
// places (Config::PlacedFile), output_file is that file's own name, which
// this gives back unchanged.
inline std::string BesideResultsLog(const std::string& output_file, const std::string& suffix) {
  return str::replace_extension(str::wordexp(str::strip(output_file, "")), suffix);
}

// A result file written whole or not at all: text goes through a buffer of
// about 1 MiB into a file staged in the target's directory (log::StagedFile:
// mode 0660, never through a link, a target that is no regular file
// refused), so a large document never has to be held in memory. Commit
// hands it to the run, which puts every file of the run in place together
// once all reports succeeded (log::RunFiles); outside a run Commit puts it
// in place at once. A writer that is not committed (destroyed early, or
// after an error) leaves nothing, and any earlier file at the target stays
// as it was. The first error ends the writing: later text is dropped and
// Commit returns the message. Single-threaded; not copyable.
class AtomicFileWriter {
 public:
  static constexpr std::size_t kBufferSize = std::size_t{1} << 20;

  // Creates the target's directory and stages the file with mode; a
  // failure there is the writer's problem() from then on.
  explicit AtomicFileWriter(std::string path, unsigned mode = log::kResultFileMode) : path_(std::move(path)) {
    if (!fs::try_makedirs(str::dirname(path_))) {
      problem_ = "cannot create the directory of " + path_;
      return;
    }
    file_ = log::RunFiles::Stage(path_, mode);
    problem_ = file_->problem();
    if (!problem_.empty()) {
      Abandon();
      return;
    }
    buffer_.reserve(kBufferSize);
  }
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;
  ~AtomicFileWriter() {
    if (!committed_) Abandon();
  }

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

  // Writes out the rest and hands the file to the run, or puts it in place
  // outside a run. Returns "" on success, else problem() (nothing is left
  // behind then). Call it once.
  std::string Commit() {
    Drain();
    if (problem_.empty() && file_) problem_ = file_->Flush();
    if (problem_.empty() && file_ && !log::RunFiles::InRun()) problem_ = file_->Commit();
    if (!problem_.empty()) {
      Abandon();
      return problem_;
    }
    committed_ = true;
    return problem_;
  }

 private:
  void Drain() {
    if (problem_.empty()) WriteAll(buffer_);
    buffer_.clear();
  }

  // On an error (a full disk, a file size limit) the staged file goes at
  // once, so that it does not hold the space until the end of the run.
  void WriteAll(std::string_view text) {
    if (!file_ || !problem_.empty()) return;
    file_->stream().write(text.data(), static_cast<std::streamsize>(text.size()));
    problem_ = file_->Flush();
    if (!problem_.empty()) Abandon();
  }

  void Abandon() {
    if (file_) log::RunFiles::Drop(file_);
    file_.reset();
  }

  std::string path_;
  std::shared_ptr<log::StagedFile> file_;
  bool committed_ = false;
  std::string buffer_;
  std::string problem_;
};

}  // namespace qorv::extensions
