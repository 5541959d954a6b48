// Table and Row: the rows of a table message for one collapsed issue,
// rendered as aligned text lines.
//
// A built table has the columns "#Nodes" (a row's node count), one column
// per data header, and "Nodes" (the row's node-range string). Rows with
// identical cells merge their nodes; Sort puts the most widespread rows
// first. A table left in its initial state (the single header "#Nodes") is
// the table of a non-table issue: not valid, it renders as nothing.
// Plain values; single-threaded.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "postprocessor/support/export.h"
#include "postprocessor/text/string_interface.h"

namespace qorv::postprocessor {

namespace detail {
// Defined here, not in the library: code that copies or assigns a Table
// (or a collapsed issue holding one) instantiates the row index inline.
struct CellsHash {
  std::size_t operator()(const std::vector<std::string>& cells) const noexcept {
    std::size_t seed = cells.size();
    for (const auto& cell : cells)
      seed ^= std::hash<std::string>()(cell) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
    return seed;
  }
};
}  // namespace detail

class QORV_EXPORT Row {
 public:
  // Appends node unless the row lists it already. Add nodes through here,
  // not through `nodes`, so the row's membership index stays true.
  void InsertNode(std::string node);

  // The node count in decimal, the data cells, then the node-range string.
  std::vector<std::string> GetData() const;
  std::vector<std::string> GetNodes() const { return nodes; }

  std::vector<std::string> nodes;
  std::vector<std::string> data;
  StringInterface functions;

 private:
  friend class Table;
  std::unordered_set<std::string> known_nodes_;
};

class QORV_EXPORT Table {
 public:
  Table() = default;
  // Headers "#Nodes", data_headers..., "Nodes"; each width is its header's
  // length in bytes plus 1.
  explicit Table(const std::vector<std::string>& data_headers);

  // Merges the nodes into the row with the same cells, or adds a new row
  // (widening the columns to fit it). Returns true only when the row is
  // refused because its column count does not match the table; the table
  // is then unchanged.
  bool InsertRow(const std::vector<std::string>& data, const std::vector<std::string>& nodes);

  // Orders rows by SortCompare: more nodes first, then by cells as text
  // from the first data cell to the node string.
  void Sort();
  static bool SortCompare(const Row& a, const Row& b);

  // At least two headers and none empty.
  bool IsValid();
  bool empty();
  unsigned int size();
  std::vector<std::string> GetHeaders() const { return headers; }
  std::vector<Row> GetRows() const { return rows; }

  // The header line and one line per row, each column padded with blanks
  // to its width (a cell wider than its column gets no padding). No line
  // terminators. Empty when the table was never built from headers.
  // Control characters in cells are shown as escapes (str::escape_controls),
  // their columns widened to fit.
  std::vector<std::string> GetTableStrings() const;

  std::vector<std::string> headers{"#Nodes"};
  std::vector<int> widths;
  std::vector<Row> rows;

 private:
  // Cells to row position, so merging finds its row without a walk; rebuilt
  // when rows were reordered or changed from outside.
  std::unordered_map<std::vector<std::string>, std::size_t, detail::CellsHash> row_index_;
  bool index_valid_ = true;
};

}  // namespace qorv::postprocessor
