// Runs the postprocessor on a run file, the way the host tool would after
// its analysis. Usage: qorv_demo <run.json> [--extensions <directory>]
#include <exception>
#include <iostream>
#include <string>

#include "postprocessor/postprocessor.h"
#include "tools/run_file.h"

int main(int argc, char** argv) {
  if (argc != 2 && argc != 4) {
    std::cerr << "usage: " << argv[0] << " <run.json> [--extensions <directory>]\n";
    return 2;
  }
  try {
    auto config = qorv::tools::ReadRunFile(argv[1]);
    if (argc == 4 && std::string(argv[2]) == "--extensions") {
      // Extensions given on the command line replace those of the run file.
      config->extension_specs = {{{"category_summary", "category_log"}, argv[3]}};
    }
    return qorv::postprocessor::run_postprocessor(config);
  } catch (const std::exception& error) {
    std::cerr << argv[0] << ": " << error.what() << "\n";
    return 1;
  }
}
