// Cleanup options as a table and as JSON.
#include "options_format.hpp"

#include <algorithm>
#include <array>

#include "display_text.hpp"
#include "human_units.hpp"
#include "sorvik_lib/types/saturating.hpp"
#include "sorvik_lib/types/utf8.hpp"
#include "text_table.hpp"

namespace sorvik_cli {

using sorvik_lib::types::CleanupOption;
using sorvik_lib::types::RiskLevel;
using sorvik_lib::types::to_utf8_lossy;

namespace {

const CleanupOption* find_option(std::span<const CleanupOption> options, std::string_view id) {
  const auto found = std::ranges::find(options, id, &CleanupOption::id);
  return found == options.end() ? nullptr : &*found;
}

}  // namespace

std::string_view risk_name(RiskLevel risk) {
  switch (risk) {
    case RiskLevel::Low:
      return "Low";
    case RiskLevel::Medium:
      return "Medium";
    case RiskLevel::High:
      return "High";
  }
  return "High";
}

std::uint64_t total_reclaimable(std::span<const CleanupOption> options) {
  // All unused images hold the dangling ones, which are then left out rather than taken off
  // afterwards: a saturated sum cannot be taken from.
  const CleanupOption* dangling = find_option(options, "dangling_images");
  const CleanupOption* left_out =
      find_option(options, "all_unused_images") != nullptr ? dangling : nullptr;
  std::uint64_t total = 0;
  for (const CleanupOption& option : options) {
    if (&option != left_out) sorvik_lib::types::add_saturating(total, option.reclaimableBytes);
  }
  return total;
}

std::string format_options_table(std::span<const CleanupOption> options) {
  std::vector<TableRow> rows;
  rows.push_back({"ID", "LABEL", "RISK", "RECLAIMABLE", "DESCRIPTION"});
  for (const CleanupOption& option : options) {
    rows.push_back({displayable(option.id), displayable(option.label),
                    std::string(risk_name(option.risk)), format_human_size(option.reclaimableBytes),
                    displayable(option.description)});
  }
  const bool overlap = find_option(options, "dangling_images") != nullptr &&
                       find_option(options, "all_unused_images") != nullptr;
  rows.push_back({"Total", "", "", format_human_size(total_reclaimable(options)),
                  overlap ? "Every option (dangling images counted within all unused images)"
                          : "Every option"});
  constexpr std::array kAlign = {Align::Left, Align::Left, Align::Left, Align::Right, Align::Left};
  return layout_table(rows, kAlign);
}

nlohmann::json options_to_json(std::span<const CleanupOption> options) {
  nlohmann::json list = nlohmann::json::array();
  for (const CleanupOption& option : options) {
    list.push_back({{"id", to_utf8_lossy(option.id)},
                    {"label", to_utf8_lossy(option.label)},
                    {"description", to_utf8_lossy(option.description)},
                    {"reclaimableBytes", option.reclaimableBytes},
                    {"risk", risk_name(option.risk)}});
  }
  return list;
}

}  // namespace sorvik_cli
