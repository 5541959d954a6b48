#include "postprocessor/text/table.h"

#include <algorithm>
#include <functional>

#include "postprocessor/host/str.h"

namespace qorv::postprocessor {

namespace {

// The row order on (node count, full column list): more nodes first, then
// the columns from the first data cell on, compared as text.
bool RowBefore(std::size_t count_a, const std::vector<std::string>& a, std::size_t count_b,
               const std::vector<std::string>& b) {
  if (count_a != count_b) return count_a > count_b;
  for (std::size_t i = 1; i < a.size() && i < b.size(); ++i) {
    const int order = a[i].compare(b[i]);
    if (order != 0) return order < 0;
  }
  return false;
}

}  // namespace

void Row::InsertNode(std::string node) {
  if (known_nodes_.size() != nodes.size()) known_nodes_ = std::unordered_set<std::string>(nodes.begin(), nodes.end());
  if (known_nodes_.insert(node).second) nodes.push_back(std::move(node));
}

std::vector<std::string> Row::GetData() const {
  std::vector<std::string> full;
  full.reserve(data.size() + 2);
  full.push_back(std::to_string(nodes.size()));
  full.insert(full.end(), data.begin(), data.end());
  full.push_back(functions.get_node_string_merge(nodes));
  return full;
}

Table::Table(const std::vector<std::string>& data_headers) {
  headers.insert(headers.end(), data_headers.begin(), data_headers.end());
  headers.push_back("Nodes");
  widths.reserve(headers.size());
  for (const auto& header : headers) widths.push_back(static_cast<int>(header.size()) + 1);
}

bool Table::InsertRow(const std::vector<std::string>& data, const std::vector<std::string>& nodes) {
  if (!index_valid_ || row_index_.size() != rows.size()) {
    row_index_.clear();
    // The first row with given cells is the one a walk would find.
    for (std::size_t i = 0; i < rows.size(); ++i) row_index_.emplace(rows[i].data, i);
    index_valid_ = true;
  }
  const auto existing = row_index_.find(data);
  if (existing != row_index_.end()) {
    for (const auto& node : nodes) rows[existing->second].InsertNode(node);
    return false;
  }

  Row row;
  row.nodes = nodes;
  row.data = data;
  const std::vector<std::string> full = row.GetData();
  if (full.size() != widths.size()) return true;

  for (std::size_t i = 0; i < full.size(); ++i) widths[i] = std::max(widths[i], static_cast<int>(full[i].size()) + 1);
  row_index_.emplace(data, rows.size());
  rows.push_back(std::move(row));
  return false;
}

bool Table::SortCompare(const Row& a, const Row& b) {
  if (a.nodes.size() != b.nodes.size()) return a.nodes.size() > b.nodes.size();
  return RowBefore(a.nodes.size(), a.GetData(), b.nodes.size(), b.GetData());
}

void Table::Sort() {
  // Each row's full column list is built once, not once per comparison.
  std::vector<std::pair<std::vector<std::string>, std::size_t>> keyed;
  keyed.reserve(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) keyed.emplace_back(rows[i].GetData(), i);
  std::sort(keyed.begin(), keyed.end(), [this](const auto& a, const auto& b) {
    return RowBefore(rows[a.second].nodes.size(), a.first, rows[b.second].nodes.size(), b.first);
  });
  std::vector<Row> sorted;
  sorted.reserve(rows.size());
  for (const auto& entry : keyed) sorted.push_back(std::move(rows[entry.second]));
  rows = std::move(sorted);
  index_valid_ = false;
}

bool Table::IsValid() {
  return headers.size() >= 2 &&
         std::none_of(headers.begin(), headers.end(), [](const std::string& header) { return header.empty(); });
}

bool Table::empty() { return rows.empty(); }

unsigned int Table::size() { return static_cast<unsigned int>(rows.size()); }

std::vector<std::string> Table::GetTableStrings() const {
  std::vector<std::string> lines;
  if (headers.size() != widths.size()) return lines;

  // Control characters of the cells are shown as escapes; a column holding
  // such a cell widens to fit its escaped text, so columns stay apart.
  std::vector<std::vector<std::string>> table{headers};
  for (const auto& row : rows) {
    std::vector<std::string> full = row.GetData();
    if (full.size() == widths.size()) table.push_back(std::move(full));
  }
  std::vector<int> shown_widths = widths;
  for (auto& cells : table) {
    for (std::size_t i = 0; i < cells.size(); ++i) {
      std::string shown = str::escape_controls(cells[i], false);
      if (shown.size() == cells[i].size()) continue;
      shown_widths[i] = std::max(shown_widths[i], static_cast<int>(shown.size()) + 1);
      cells[i] = std::move(shown);
    }
  }
  for (const auto& cells : table) {
    std::string line;
    for (std::size_t i = 0; i < cells.size(); ++i) {
      line += cells[i];
      const int fill = shown_widths[i] - static_cast<int>(cells[i].size());
      if (fill > 0) line.append(static_cast<std::size_t>(fill), ' ');
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace qorv::postprocessor
