#include "log/output_log.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <iostream>

#include "postprocessor/host/str.h"

namespace qorv::log {

StreamFileType::StreamFileType(std::string path, std::ios_base::openmode mode)
    : path_(std::move(path)), mode_(mode) {}

StreamFileType::~StreamFileType() {
  if (file_ && open_) {
    file_->flush();
    file_->close();
  }
}

bool StreamFileType::open(const std::string& expanded) {
  auto file = std::make_unique<std::fstream>(expanded, mode_);
  open_ = file->is_open();
  if (open_) file_ = std::move(file);
  return open_;
}

void OutputLog::OutputLogStream::flush(std::stringstream& text) {
  const std::string message = text.str();
  for (const OutputStream& out : streams) {
    if (!message.empty()) *out.stream << message;
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
  if (!expanded.empty()) {
    // Only a file this call opened gets the result files' permissions: a
    // directory or a protected file that could not be opened keeps its own.
    errno = 0;
    if (holder->open(expanded)) {
      ::chmod(expanded.c_str(), S_IRUSR | S_IWUSR | S_IRGRP | S_IWGRP);
    } else {
      // The message readers and scripts know, then the reason on a line of
      // its own.
      const int error = errno;
      std::cerr << "Error opening output file " << file << "." << std::endl;
      if (error != 0) std::cerr << "  " << std::strerror(error) << std::endl;
    }
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
