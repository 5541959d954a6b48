// MessageTranslator: turns message identifiers and their arguments into
// text through the message catalogues named by the Framework Definitions.
//
// Static state: one catalogue serves the whole process; it is empty until
// the first LoadCatalogs and replaced only by a load that succeeds.
// Single-threaded, not re-entrant.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "postprocessor/host/fwd.h"
#include "postprocessor/host/kval/message_catalogs.h"
#include "postprocessor/support/export.h"
#include "postprocessor/utility_functions.h"

namespace qorv::postprocessor {

class QORV_EXPORT MessageTranslator {
 public:
  // Loads every catalogue file of every Framework Definition (directory
  // string + file name, each distinct path once, in byte order) in language
  // "en" and makes the unnamed catalogue the one in force. Throws
  // KVAL_2_18::i18n::CatalogError with the loader's text (file, line,
  // problem) when a file fails to load, and with "xmc_file_loader::load_error
  // - Catalog name attribute not supported" when a file carries a catalogue
  // name; the catalogue in force then stays as it was. Null attributes load
  // nothing.
  static void LoadCatalogs(std::shared_ptr<FWDAttributes> fwd_attributes);

  // The text of id's usable id with args named "0", "1", ... filled in,
  // trimmed of blanks at both ends and with runs of spaces squeezed to one.
  // An id without a catalogue entry comes back unchanged (sub-id included).
  static std::string Translate(const std::string& id, const std::vector<KVAL_2_18::types::variant>& args);

  static KVAL_2_18::i18n::catalog_t catalog;
  static UtilityFunctions functions;
};

}  // namespace qorv::postprocessor
