// Statistics and table layout for the report.
#include "summary.hpp"

#include <fmt/format.h>

#include <algorithm>

namespace sorvik_bench {

Spread spread_of(std::vector<double> samples) {
  Spread spread;
  spread.count = samples.size();
  if (samples.empty()) return spread;
  std::ranges::sort(samples);
  const std::size_t middle = samples.size() / 2;
  spread.median =
      samples.size() % 2 == 1 ? samples[middle] : (samples[middle - 1] + samples[middle]) / 2;
  spread.min = samples.front();
  spread.max = samples.back();
  return spread;
}

std::string format_ms(double seconds) {
  const double ms = seconds * 1000;
  if (ms < 10) return fmt::format("{:.3f}", ms);
  if (ms < 1000) return fmt::format("{:.1f}", ms);
  return fmt::format("{:.0f}", ms);
}

std::string format_bytes(std::uint64_t bytes) {
  const double value = static_cast<double>(bytes);
  if (bytes < 1024) return fmt::format("{} B", bytes);
  if (bytes < 1024 * 1024) return fmt::format("{:.1f} KiB", value / 1024);
  if (bytes < 1024ULL * 1024 * 1024) return fmt::format("{:.1f} MiB", value / (1024 * 1024));
  return fmt::format("{:.2f} GiB", value / (1024.0 * 1024 * 1024));
}

std::string format_ratio(double numerator, double denominator) {
  if (denominator <= 0) return "-";
  return fmt::format("{:.2f}x", numerator / denominator);
}

TextTable::TextTable(std::vector<std::string> headers, std::size_t text_columns)
    : headers_(std::move(headers)), text_columns_(text_columns) {}

void TextTable::add_row(std::vector<std::string> cells) {
  cells.resize(headers_.size());
  rows_.push_back(std::move(cells));
}

std::string TextTable::render() const {
  std::vector<std::size_t> widths(headers_.size());
  for (std::size_t c = 0; c < headers_.size(); ++c) {
    widths[c] = headers_[c].size();
    for (const auto& row : rows_) widths[c] = std::max(widths[c], row[c].size());
  }
  std::string out;
  const auto append_row = [&](const std::vector<std::string>& cells) {
    std::string line;
    for (std::size_t c = 0; c < cells.size(); ++c) {
      if (c > 0) line += "  ";
      if (c < text_columns_) {
        line += fmt::format("{:<{}}", cells[c], widths[c]);
      } else {
        line += fmt::format("{:>{}}", cells[c], widths[c]);
      }
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out += line + "\n";
  };
  append_row(headers_);
  std::vector<std::string> rule;
  for (const auto width : widths) rule.emplace_back(width, '-');
  append_row(rule);
  for (const auto& row : rows_) append_row(row);
  return out;
}

}  // namespace sorvik_bench
