// The printed forms of a strategy's cleanup options: a table for people, with a total line, and
// JSON with the record's own field names for scripts.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <string_view>

#include "sorvik_lib/types/cleanup_option.hpp"

namespace sorvik_cli {

// "Low", "Medium" or "High".
[[nodiscard]] std::string_view risk_name(sorvik_lib::types::RiskLevel risk);

// What running every option would free. Docker's dangling images are also unused images, so
// when both options are listed the dangling ones are counted once, within the unused images.
[[nodiscard]] std::uint64_t total_reclaimable(
    std::span<const sorvik_lib::types::CleanupOption> options);

// A header, one row per option (id, label, risk, reclaimable in human units, description) and a
// total row.
[[nodiscard]] std::string format_options_table(
    std::span<const sorvik_lib::types::CleanupOption> options);

// [{"id", "label", "description", "reclaimableBytes", "risk": "Low"}, ...]
[[nodiscard]] nlohmann::json options_to_json(
    std::span<const sorvik_lib::types::CleanupOption> options);

}  // namespace sorvik_cli
