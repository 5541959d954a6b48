#include "postprocessor/intake/message_translator.h"

#include <set>
#include <stdexcept>

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

// str::squeeze(str::strip(text, ""), ' ') with one copy instead of three.
// The copy is made at the text's size: a million messages are kept, and
// the buffer they were formatted in has grown by doubling.
std::string Tidy(const std::string& text) {
  const std::size_t first = text.find_first_not_of(str::kWhitespace);
  if (first == std::string::npos) return {};
  const std::size_t last = text.find_last_not_of(str::kWhitespace);
  std::string tidy;
  tidy.reserve(last - first + 1);
  for (std::size_t i = first; i <= last; ++i) {
    if (text[i] == ' ' && !tidy.empty() && tidy.back() == ' ') continue;
    tidy += text[i];
  }
  return tidy;
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
  if (result.status != 0) throw std::runtime_error(result.text);
  for (auto it = catalogs.begin(); it != catalogs.end(); ++it) {
    if (!it->name().empty()) {
      throw std::runtime_error("xmc_file_loader::load_error - Catalog name attribute not supported");
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
  return Tidy(message.as_string(arguments));
}

}  // namespace qorv::postprocessor
