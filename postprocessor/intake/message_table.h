// MessageTable: which messages are shown as tables, their column headers,
// and one issue's row of cells.
//
// Static state: table_map (usable id to its columns, each a header text and
// the message id of its cells) is empty until the category map copies the
// run's definitions in, and is replaced, never merged. Single-threaded.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "postprocessor/host/kval/variant.h"
#include "postprocessor/support/export.h"
#include "postprocessor/utility_functions.h"

namespace qorv::postprocessor {

class QORV_EXPORT MessageTable {
 public:
  // True when the usable id of id is a table, even with zero columns.
  static bool IsTable(const std::string& id);

  // The header texts of id's table in column order, untranslated; empty
  // when id is not a table.
  static std::vector<std::string> GetHeaders(const std::string& id);

  // One cell per column: the column's cell message translated with the
  // whole argument list, so each cell picks its arguments by name. Empty
  // when id is not a table; otherwise as long as GetHeaders(id).
  static std::vector<std::string> GetRow(const std::string& id, const std::vector<KVAL_2_18::types::variant>& args);

  static std::map<std::string, std::vector<std::pair<std::string, std::string>>> table_map;
  static UtilityFunctions functions;
};

namespace detail {

// Table definitions in the shape of MessageTable::table_map.
using TableDefinitions = std::map<std::string, std::vector<std::pair<std::string, std::string>>>;

// GetHeaders and GetRow over the given definitions: what the library's own
// collapses use, so that a run's definitions need not be copied into the
// static table_map first.
std::vector<std::string> HeadersIn(const TableDefinitions& tables, const std::string& id);
std::vector<std::string> RowIn(const TableDefinitions& tables, const std::string& id,
                               const std::vector<KVAL_2_18::types::variant>& args);

}  // namespace detail

}  // namespace qorv::postprocessor
