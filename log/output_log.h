// The process-wide output log through which every report is written.
//
// An OutputLog is one message: stream text into it and let it go out of
// scope; its destructor writes the text to every current output stream and
// flushes them. At most one stream is current: the console or one result
// file, chosen by set_out_streams. Colours are written only to streams that
// have colour enabled (never to files).
//
// The singleton OutputLog::singleton_obj belongs to the host's log
// component; it is created lazily when missing and never destroyed here.
// Not thread-safe: one thread uses the log.
#pragma once

#include <cstdint>
#include <fstream>
#include <ios>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "log/staged_file.h"
#include "postprocessor/host/non_deep_copyable.h"
#include "postprocessor/support/export.h"

namespace qorv::log {

// One output target: a stream this log does not own, and whether colour
// escapes are written to it.
struct OutputStream {
  std::ostream* stream = nullptr;
  bool color_enabled = false;
};

// Holder of an output file.
class QORV_EXPORT StreamBaseType : public util::NonDeepCopyable<StreamBaseType> {
 public:
  ~StreamBaseType() override = default;
  virtual bool is_open() const { return open_; }

 protected:
  bool open_ = false;
};

// An output file, opened by open() and flushed on destruction.
//
// During a run (RunFiles::InRun), a file opened with out | trunc is a new
// StagedFile of the run, put in place when the run commits its files, and
// one opened with out | app writes on the run's staged file of the same
// target when there is one. Otherwise the target itself is written: a
// symbolic link there is replaced by a new file, never written through.
// Either way a target that is not a regular file is refused, and the mode
// 0660 is set on the open file, never by path.
class QORV_EXPORT StreamFileType : public StreamBaseType {
 public:
  StreamFileType(std::string path, std::ios_base::openmode mode);
  ~StreamFileType() override;

  // Opens `expanded` (the path after expansion) with the mode given at
  // construction. Returns false, and stays closed, when it cannot; problem()
  // then says why.
  bool open(const std::string& expanded);

  const std::string& path() const { return path_; }
  // The open file's stream; null until open() succeeded.
  std::ostream* stream() const { return stream_.get(); }
  // Writes out what is buffered. "" while every write succeeded, else a
  // message naming the file and the problem.
  std::string Flush();
  const std::string& problem() const { return problem_; }

 private:
  std::string path_;
  std::ios_base::openmode mode_;
  std::string problem_;
  std::shared_ptr<StagedFile> staged_;
  int fd_ = -1;  // a file written in place
  std::unique_ptr<detail::FdBuffer> buffer_;
  std::unique_ptr<std::ostream> stream_;
};

class QORV_EXPORT OutputLog : public std::stringstream {
 public:
  // Indexes the colour table; any negative value means no colour.
  enum Colors : int { NO_COLOR = -1, RED = 0, YELLOW = 1, GREEN = 2 };

  class QORV_EXPORT OutputLogStream {
   public:
    std::vector<std::string> colors{"\033[0;31m", "\033[0;33m", "\033[0;32m"};
    std::string reset = "\033[0m";
    std::vector<OutputStream> streams;
    std::vector<std::shared_ptr<StreamFileType>> files;
    std::int32_t color = -1;

    // Writes text (when non-empty) to each stream, on standard output with
    // its control characters but newline and tab as visible escapes
    // (str::escape_controls), then the reset escape on
    // colour-enabled streams when a colour is in force, then flushes each
    // stream; no newline is added. Afterwards no colour is in force. The
    // reset is written even for an empty text, so a colour never bleeds into
    // later messages.
    void flush(std::stringstream& text);

    // Negative: nothing. 0..2: writes the colour's escape to each
    // colour-enabled stream and makes it the colour in force. 3 or more:
    // writes "invalid color <n>" to standard error and throws std::exception.
    void set_color(Colors color);
  };

  // Starts a message, creating the singleton when it is missing. A colour
  // of 0 or more is applied at once (see OutputLogStream::set_color; an
  // invalid colour throws std::exception when there is at least one stream).
  explicit OutputLog(Colors color);
  // Emits the message through OutputLogStream::flush.
  ~OutputLog() override;

  // Creates the singleton (no streams, no colour) when it is missing.
  static void createInstance();

  // Replaces every output stream. An empty file name selects standard output
  // and returns true. Otherwise the name is stripped and expanded ("~" and
  // variables, never commands) and opened with mode (see StreamFileType);
  // the file gets permissions 0660 whatever the umask. When it cannot be
  // opened, "Error opening output file <file>." and, on a line of its own,
  // the reason go to standard error, output falls back to standard output
  // and the result is false.
  static bool set_out_streams(std::string file, std::ios_base::openmode mode);

  static OutputLogStream* singleton_obj;
};

}  // namespace qorv::log
