#include "postprocessor/host/fs.h"

#include <filesystem>
#include <system_error>

namespace qorv::fs {

namespace stdfs = std::filesystem;

bool try_makedirs(const std::string& directory) {
  if (directory.empty()) return true;
  std::error_code error;
  stdfs::create_directories(directory, error);
  return stdfs::is_directory(directory, error);
}

std::string selfpath() {
  std::error_code error;
  const stdfs::path self = stdfs::read_symlink("/proc/self/exe", error);
  return error ? std::string() : self.string();
}

std::string abspath(const std::string& path) {
  if (path.empty()) return {};
  std::error_code error;
  const stdfs::path absolute = stdfs::absolute(path, error);
  return error ? std::string() : absolute.lexically_normal().string();
}

}  // namespace qorv::fs
