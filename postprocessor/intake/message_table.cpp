#include "postprocessor/intake/message_table.h"

#include "postprocessor/intake/message_translator.h"

namespace qorv::postprocessor {

std::map<std::string, std::vector<std::pair<std::string, std::string>>> MessageTable::table_map;
UtilityFunctions MessageTable::functions;

bool MessageTable::IsTable(const std::string& id) {
  // Most runs have no table messages: skip making the usable id then.
  return !table_map.empty() && table_map.count(functions.get_usable_id(id)) != 0;
}

std::vector<std::string> MessageTable::GetHeaders(const std::string& id) { return detail::HeadersIn(table_map, id); }

std::vector<std::string> MessageTable::GetRow(const std::string& id,
                                              const std::vector<KVAL_2_18::types::variant>& args) {
  return detail::RowIn(table_map, id, args);
}

namespace detail {

std::vector<std::string> HeadersIn(const TableDefinitions& tables, const std::string& id) {
  std::vector<std::string> headers;
  const auto table = tables.find(MessageTable::functions.get_usable_id(id));
  if (table == tables.end()) return headers;
  headers.reserve(table->second.size());
  for (const auto& column : table->second) headers.push_back(column.first);
  return headers;
}

std::vector<std::string> RowIn(const TableDefinitions& tables, const std::string& id,
                               const std::vector<KVAL_2_18::types::variant>& args) {
  std::vector<std::string> row;
  const auto table = tables.find(MessageTable::functions.get_usable_id(id));
  if (table == tables.end()) return row;
  row.reserve(table->second.size());
  for (const auto& column : table->second) row.push_back(MessageTranslator::Translate(column.second, args));
  return row;
}

}  // namespace detail

}  // namespace qorv::postprocessor
