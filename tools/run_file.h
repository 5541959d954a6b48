// Reads a host run description (JSON, see docs/run-file.md) into a Config.
#pragma once

#include <memory>
#include <string>

#include "postprocessor/host/config.h"

namespace qorv::tools {

// Builds the configuration described by the file at path. Relative
// directories in the file are taken relative to the file's own directory.
// Throws std::runtime_error naming the file and the problem when the file
// cannot be read or does not describe a run.
std::shared_ptr<Config> ReadRunFile(const std::string& path);

}  // namespace qorv::tools
