// Byte counts in human units, written as docker writes them: decimal units and four
// significant digits ("3.146MB", "999B", "1kB"), so the two can be compared by eye.
#pragma once

#include <cstdint>
#include <string>

namespace sorvik_cli {

[[nodiscard]] std::string format_human_size(std::uint64_t bytes);

// A count with its thousands grouped by commas ("1,234,567"), for entry counts read at a glance.
[[nodiscard]] std::string format_count(std::uint64_t count);

}  // namespace sorvik_cli
