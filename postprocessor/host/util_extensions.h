// qorv::util_extensions: finds extension libraries by name.
#pragma once

#include <string>
#include <vector>

#include "postprocessor/support/export.h"

namespace qorv::util_extensions {

// For each name, in order, the path of "lib<name>.so" in directory, or of
// "<name>.so" when the first is missing; names found neither way are
// skipped. Only regular files (or links to them) count. The path is the
// directory joined to the file name with one '/'; an empty directory means
// the working directory ("./lib<name>.so"), so the loader never searches
// its own library path for it. A name that is empty or holds a '/' is
// skipped: it could name a file outside the directory.
QORV_EXPORT std::vector<std::string> scan_files(const std::string& directory, const std::vector<std::string>& names);

}  // namespace qorv::util_extensions
