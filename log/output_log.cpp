#include "log/output_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <iostream>

#include "log/fd_buffer.h"
#include "postprocessor/host/str.h"

namespace qorv::log {

StreamFileType::StreamFileType(std::string path, std::ios_base::openmode mode) : path_(std::move(path)), mode_(mode) {}

StreamFileType::~StreamFileType() {
  Flush();
  stream_.reset();
  buffer_.reset();
  if (fd_ >= 0) ::close(fd_);
}

std::string StreamFileType::Flush() {
  if (staged_) {
    if (stream_) stream_->flush();
    if (problem_.empty()) problem_ = staged_->Flush();
  } else if (buffer_ && !buffer_->Drain() && problem_.empty()) {
    problem_ = buffer_->problem();
  }
  return problem_;
}

bool StreamFileType::open(const std::string& expanded) {
  problem_ = TargetProblem(expanded);
  if (!problem_.empty()) return open_ = false;
  const bool append = (mode_ & std::ios_base::app) != 0 || (mode_ & std::ios_base::trunc) == 0;
  if (RunFiles::InRun()) {
    staged_ = append ? RunFiles::Find(expanded) : nullptr;
    if (!staged_) staged_ = RunFiles::Stage(expanded);
    problem_ = staged_->problem();
    if (!problem_.empty()) {
      RunFiles::Drop(staged_);
      staged_.reset();
      return open_ = false;
    }
    stream_ = std::make_unique<std::ostream>(staged_->stream().rdbuf());
    return open_ = true;
  }

  // Outside a run the target is written in place, but a link there is
  // replaced rather than followed.
  struct stat status {};
  if (::lstat(expanded.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) ::unlink(expanded.c_str());
  fd_ = ::open(expanded.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (append ? O_APPEND : O_TRUNC), 0660);
  if (fd_ < 0) {
    problem_ = std::strerror(errno);
    return open_ = false;
  }
  // A file that is there may be no regular file after all (swapped meanwhile).
  if (::fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode)) {
    problem_ = expanded + " is not a regular file";
    ::close(fd_);
    fd_ = -1;
    return open_ = false;
  }
  ::fchmod(fd_, S_IRUSR | S_IWUSR | S_IRGRP | S_IWGRP);
  buffer_ = std::make_unique<detail::FdBuffer>(fd_, expanded);
  stream_ = std::make_unique<std::ostream>(buffer_.get());
  return open_ = true;
}

void OutputLog::OutputLogStream::flush(std::stringstream& text) {
  const std::string message = text.str();
  for (const OutputStream& out : streams) {
    // Nothing a report writes may drive the terminal: control characters
    // other than newline and tab reach the console only as visible escapes.
    // Files keep their bytes, which their formats escape in their own way.
    if (!message.empty()) *out.stream << (out.stream == &std::cout ? str::escape_controls(message, true) : message);
    if (color >= 0 && out.color_enabled) *out.stream << reset;
    out.stream->flush();
  }
  color = -1;
}

void OutputLog::OutputLogStream::set_color(Colors requested) {
  if (requested < 0) return;
  if (static_cast<std::size_t>(requested) >= colors.size()) {
    std::cerr << "invalid color " << static_cast<int>(requested) << "\n";
    throw std::exception();
  }
  for (const OutputStream& out : streams) {
    if (!out.color_enabled) continue;
    color = requested;
    *out.stream << colors[static_cast<std::size_t>(requested)];
  }
}

OutputLog::OutputLog(Colors color) {
  createInstance();
  // The colour is checked per stream: with no stream there is nothing to check.
  if (!singleton_obj->streams.empty()) singleton_obj->set_color(color);
}

OutputLog::~OutputLog() { singleton_obj->flush(*this); }

void OutputLog::createInstance() {
  if (!singleton_obj) singleton_obj = new OutputLogStream();
}

bool OutputLog::set_out_streams(std::string file, std::ios_base::openmode mode) {
  createInstance();
  OutputLogStream& log = *singleton_obj;
  log.streams.clear();
  log.files.clear();

  auto holder = std::make_shared<StreamFileType>(file, mode);
  const std::string expanded = str::wordexp(str::strip(file, ""));
  if (!expanded.empty() && !holder->open(expanded)) {
    // The message readers and scripts know, then the reason on a line of
    // its own.
    std::cerr << "Error opening output file " << file << "." << std::endl;
    if (!holder->problem().empty()) std::cerr << "  " << holder->problem() << std::endl;
  }

  if (!holder->is_open()) {
    log.streams.push_back({&std::cout, false});
    return file.empty();
  }
  log.files.push_back(holder);
  log.streams.push_back({holder->stream(), false});
  return true;
}

}  // namespace qorv::log
