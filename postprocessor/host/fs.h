// qorv::fs: the host's file-system services. Free functions; none throws.
#pragma once

#include <string>

#include "postprocessor/support/export.h"

namespace qorv::fs {

// Creates the directory and its missing parents. Returns true when the
// directory exists afterwards (an empty name means the working directory),
// false when it cannot be created or a non-directory is in the way.
QORV_EXPORT bool try_makedirs(const std::string& directory);

// The absolute path of the running program; empty when it cannot be read.
QORV_EXPORT std::string selfpath();

// The absolute, lexically normalised form of path, resolved against the
// working directory; symbolic links are not followed. Empty for an empty
// path or when the working directory cannot be read.
QORV_EXPORT std::string abspath(const std::string& path);

}  // namespace qorv::fs
