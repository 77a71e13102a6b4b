// Reads docker's disk-usage report into the five cleanup options and their reclaimable sizes.
#pragma once

#include <cstdint>
#include <expected>
#include <string_view>
#include <vector>

#include "sorvik_lib/strategies/strategy.hpp"
#include "sorvik_lib/types/cleanup_option.hpp"

namespace sorvik_lib::strategies::docker {

// The five options from the output of `docker system df --format {{json .}}` (one JSON object per
// line) and the size of the dangling images. A line that is not one complete JSON document is a
// ParseError "Invalid JSON line: ..." with the parser's description.
[[nodiscard]] std::expected<std::vector<types::CleanupOption>, StrategyError> parse_system_df(
    std::string_view output, std::uint64_t dangling_bytes);

// The size in a "Reclaimable" column such as "1.234GB (45%)"; 0 when it cannot be read.
[[nodiscard]] std::uint64_t parse_reclaimable(std::string_view text);

}  // namespace sorvik_lib::strategies::docker
