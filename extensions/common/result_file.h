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

// Writes content to path whole or not at all: into a temporary file in the
// same directory, then renamed over path, so a reader never sees half a
// file. The file gets mode 0660, like the other result files. Returns "" on
// success, else a message naming the file and the problem (nothing is left
// behind then).
inline std::string WriteFileAtomically(const std::string& path, const std::string& content) {
  const std::string directory = str::dirname(path);
  if (!fs::try_makedirs(directory)) return "cannot create the directory of " + path;
  std::string temporary = directory + "/." + str::basename(path) + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return "cannot create a temporary file beside " + path + ": " + std::strerror(errno);
  std::string problem;
  const char* data = content.data();
  std::size_t left = content.size();
  while (left > 0 && problem.empty()) {
    const ssize_t written = ::write(fd, data, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      problem = std::string("cannot write ") + path + ": " + std::strerror(errno);
      break;
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
  if (problem.empty() && ::fchmod(fd, 0660) != 0) problem = "cannot set the mode of " + path;
  if (::close(fd) != 0 && problem.empty()) problem = std::string("cannot write ") + path + ": " + std::strerror(errno);
  if (problem.empty() && std::rename(temporary.c_str(), path.c_str()) != 0) {
    problem = "cannot replace " + path + ": " + std::strerror(errno);
  }
  if (!problem.empty()) std::remove(temporary.c_str());
  return problem;
}

}  // namespace qorv::extensions
