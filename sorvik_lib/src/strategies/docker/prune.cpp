// The five prune command lines and the reading of the space a prune reports as reclaimed.
#include "sorvik_lib/strategies/docker/prune.hpp"

#include <array>

#include "output_lines.hpp"
#include "sorvik_lib/strategies/parse_size.hpp"

namespace sorvik_lib::strategies::docker {
namespace {

struct PruneRow {
  std::string_view option_id;
  std::array<std::string_view, 5> command;  // unused trailing entries are empty
};

constexpr std::array<PruneRow, 5> kPruneCommands = {{
    {"dangling_images", {"docker", "image", "prune", "-f", ""}},
    {"build_cache", {"docker", "builder", "prune", "-f", ""}},
    {"stopped_containers", {"docker", "container", "prune", "-f", ""}},
    {"all_unused_images", {"docker", "image", "prune", "-a", "-f"}},
    {"unused_volumes", {"docker", "volume", "prune", "-f", ""}},
}};

constexpr std::string_view kReclaimedPrefix = "Total reclaimed space:";
// docker's build plugin ends its prune report with "Total:" and a tab instead.
constexpr std::string_view kPluginTotalPrefix = "Total:";

std::uint64_t size_after(std::string_view line, std::string_view prefix) {
  const std::string_view rest = trim_white_space(line.substr(prefix.size()));
  if (rest.empty()) return 0;
  return parse_size(rest).value_or(0);
}

}  // namespace

std::optional<std::vector<std::string>> get_prune_command(std::string_view option_id) {
  for (const auto& row : kPruneCommands) {
    if (row.option_id != option_id) continue;
    std::vector<std::string> command;
    for (const auto part : row.command) {
      if (!part.empty()) command.emplace_back(part);
    }
    return command;
  }
  return std::nullopt;
}

std::uint64_t parse_prune_output(std::string_view output) {
  const std::vector<std::string_view> lines = split_lines(output);
  for (const auto line : lines) {
    if (line.starts_with(kReclaimedPrefix)) return size_after(line, kReclaimedPrefix);
  }
  for (const auto line : lines) {
    if (line.starts_with(kPluginTotalPrefix)) return size_after(line, kPluginTotalPrefix);
  }
  return 0;
}

}  // namespace sorvik_lib::strategies::docker
