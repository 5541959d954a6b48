#include "postprocessor/host/util_extensions.h"

#include <sys/stat.h>

namespace qorv::util_extensions {

namespace {

bool is_regular_file(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

std::vector<std::string> scan_files(const std::string& directory, const std::vector<std::string>& names) {
  std::string base = directory.empty() ? std::string(".") : directory;
  if (base.back() != '/') base += '/';

  std::vector<std::string> found;
  for (const auto& name : names) {
    if (name.empty() || name.find('/') != std::string::npos) continue;
    for (const std::string& file : {"lib" + name + ".so", name + ".so"}) {
      if (is_regular_file(base + file)) {
        found.push_back(base + file);
        break;
      }
    }
  }
  return found;
}

}  // namespace qorv::util_extensions
