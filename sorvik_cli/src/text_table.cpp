// Column layout by display width, so that wide characters line up too.
#include "text_table.hpp"

#include <algorithm>

#include "display_text.hpp"

namespace sorvik_cli {

std::string layout_table(std::span<const TableRow> rows, std::span<const Align> align) {
  std::vector<std::size_t> widths;
  for (const TableRow& row : rows) {
    if (widths.size() < row.size()) widths.resize(row.size(), 0);
    for (std::size_t column = 0; column < row.size(); ++column) {
      widths[column] = std::max(widths[column], display_width(row[column]));
    }
  }
  std::string out;
  for (const TableRow& row : rows) {
    std::string line;
    for (std::size_t column = 0; column < row.size(); ++column) {
      if (column != 0) line += "  ";
      const std::string& cell = row[column];
      const std::size_t padding = widths[column] - display_width(cell);
      const bool right = column < align.size() && align[column] == Align::Right;
      if (right) line.append(padding, ' ');
      line += cell;
      if (!right && column + 1 < row.size()) line.append(padding, ' ');
    }
    while (line.ends_with(' ')) line.pop_back();
    out += line + "\n";
  }
  return out;
}

}  // namespace sorvik_cli
