// Test support: message catalogue files in a temporary directory, and
// Framework Definitions that name them.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "postprocessor/host/fwd.h"
#include "tests/support/temp_dir.h"

namespace qorv::testing {

// A catalogue file holding the messages (id to text, as written in XML).
inline std::string CatalogXml(const std::map<std::string, std::string>& messages,
                              const std::string& root_attributes = "") {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<message-catalog" + root_attributes + ">\n";
  for (const auto& [id, text] : messages) xml += "  <message id=\"" + id + "\">" + text + "</message>\n";
  return xml + "</message-catalog>\n";
}

// Adds a Framework Definition that names one catalogue file.
inline void AddCatalog(FWDAttributes& attributes, const std::string& fwd_name, const std::string& directory,
                       const std::string& file) {
  auto& fwd = attributes.fwds[fwd_name];
  if (!fwd) {
    fwd = std::make_shared<Fwd>();
    fwd->name = fwd_name;
  }
  fwd->catalog_files.push_back(FileGroup{{file}, directory});
}

}  // namespace qorv::testing
