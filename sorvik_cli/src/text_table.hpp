// Plain-text tables for the terminal: columns as wide as their widest cell, two spaces apart.
#pragma once

#include <span>
#include <string>
#include <vector>

namespace sorvik_cli {

enum class Align { Left, Right };

using TableRow = std::vector<std::string>;

// One line per row, each ending in "\n". Cells are displayable text; `align` gives each column's
// alignment (missing entries are Left). The last column is not padded and no line ends in spaces.
[[nodiscard]] std::string layout_table(std::span<const TableRow> rows,
                                       std::span<const Align> align);

}  // namespace sorvik_cli
