#include "postprocessor/intake/message_translator.h"

#include <set>

#include "postprocessor/host/str.h"

namespace qorv::postprocessor {

KVAL_2_18::i18n::catalog_t MessageTranslator::catalog;
UtilityFunctions MessageTranslator::functions;

namespace {

// Argument names "0" .. "15" built once; longer lists name the rest on the fly.
const std::vector<KVAL_2_18::strings::ustring8>& ArgumentNames() {
  static const std::vector<KVAL_2_18::strings::ustring8> names = [] {
    std::vector<KVAL_2_18::strings::ustring8> built;
    for (unsigned long i = 0; i < 16; ++i) built.emplace_back(std::to_string(i));
    return built;
  }();
  return names;
}

}  // namespace

void MessageTranslator::LoadCatalogs(std::shared_ptr<FWDAttributes> fwd_attributes) {
  std::set<std::string> paths;
  if (fwd_attributes) {
    for (const auto& entry : fwd_attributes->fwds) {
      if (!entry.second) continue;
      for (const auto& group : entry.second->catalog_files) {
        for (const auto& file : group.files) paths.insert(group.directory + file);
      }
    }
  }
  const std::vector<KVAL_2_18::strings::ustring8> files(paths.begin(), paths.end());

  KVAL_2_18::i18n::message_catalogs catalogs;
  const auto result = catalogs.load(files, "en");
  if (result.status != 0) throw KVAL_2_18::i18n::CatalogError(result.text);
  for (auto it = catalogs.begin(); it != catalogs.end(); ++it) {
    if (!it->name().empty()) {
      throw KVAL_2_18::i18n::CatalogError("xmc_file_loader::load_error - Catalog name attribute not supported");
    }
  }
  catalog = catalogs.catalog("");
}

std::string MessageTranslator::Translate(const std::string& id, const std::vector<KVAL_2_18::types::variant>& args) {
  const KVAL_2_18::i18n::message_t message = catalog.message(functions.get_usable_id(id));
  if (message.size() == 0) return id;

  const auto& names = ArgumentNames();
  KVAL_2_18::generic::varg_list arguments;
  arguments.reserve(args.size());
  for (std::size_t i = 0; i < args.size(); ++i) {
    arguments.push_back(i < names.size() ? names[i] : KVAL_2_18::strings::ustring8(std::to_string(i)), args[i]);
  }
  return str::squeeze(str::strip(message.as_string(arguments), ""), ' ');
}

}  // namespace qorv::postprocessor
