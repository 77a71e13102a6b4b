// Human-readable byte counts.
#include "human_units.hpp"

#include <fmt/format.h>

#include <array>
#include <string_view>

namespace sorvik_cli {

std::string format_human_size(std::uint64_t bytes) {
  static constexpr std::array<std::string_view, 7> kUnits = {"B",  "kB", "MB", "GB",
                                                             "TB", "PB", "EB"};
  auto value = static_cast<double>(bytes);
  std::size_t unit = 0;
  while (value >= 1000.0 && unit + 1 < kUnits.size()) {
    value /= 1000.0;
    ++unit;
  }
  return fmt::format("{:.4g}{}", value, kUnits[unit]);
}

std::string format_count(std::uint64_t count) {
  std::string digits = std::to_string(count);
  for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, 1, ',');
  return digits;
}

}  // namespace sorvik_cli
