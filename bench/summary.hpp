// Medians and spreads of timed samples, and a plain text table to print them in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sorvik_bench {

struct Spread {
  double median = 0;
  double min = 0;
  double max = 0;
  std::size_t count = 0;
};

// Empty samples give a spread of zeros with count 0.
[[nodiscard]] Spread spread_of(std::vector<double> samples);

// "12.34" milliseconds from seconds, with digits that suit the size.
[[nodiscard]] std::string format_ms(double seconds);
// "1.23 MiB", "97.7 MiB", "8.6 GiB".
[[nodiscard]] std::string format_bytes(std::uint64_t bytes);
// "0.93x"; a ratio with no denominator prints as "-".
[[nodiscard]] std::string format_ratio(double numerator, double denominator);

// Columns are left-aligned up to `text_columns` and right-aligned after it.
class TextTable {
 public:
  TextTable(std::vector<std::string> headers, std::size_t text_columns);
  void add_row(std::vector<std::string> cells);
  [[nodiscard]] std::string render() const;

 private:
  std::vector<std::string> headers_;
  std::size_t text_columns_;
  std::vector<std::vector<std::string>> rows_;
};

}  // namespace sorvik_bench
