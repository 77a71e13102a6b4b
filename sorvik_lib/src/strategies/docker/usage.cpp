// Reading `docker system df --format {{json .}}`: one JSON object per line, of which only the
// "Type" and "Reclaimable" members matter.
#include "sorvik_lib/strategies/docker/usage.hpp"

#include <fmt/format.h>

#include <nlohmann/json.hpp>
#include <string>

#include "output_lines.hpp"
#include "sorvik_lib/strategies/parse_size.hpp"
#include "sorvik_lib/types/utf8.hpp"

namespace sorvik_lib::strategies::docker {
namespace {

using types::CleanupOption;
using types::RiskLevel;

struct UsageFigures {
  std::uint64_t images = 0;
  std::uint64_t containers = 0;
  std::uint64_t build_cache = 0;
  std::uint64_t local_volumes = 0;
};

// The figure that a usage type sets, or nullptr for a type that is not one of ours.
std::uint64_t* figure_for(UsageFigures& figures, std::string_view type) {
  if (type == "Images") return &figures.images;
  if (type == "Containers") return &figures.containers;
  if (type == "Build Cache") return &figures.build_cache;
  if (type == "Local Volumes") return &figures.local_volumes;
  return nullptr;
}

// The member `name` of `document` when it is an object holding that member as a string.
[[nodiscard]] std::optional<std::string_view> string_member(const nlohmann::json& document,
                                                            std::string_view name) {
  if (!document.is_object()) return std::nullopt;
  const auto member = document.find(name);
  if (member == document.end() || !member->is_string()) return std::nullopt;
  return std::string_view(member->get_ref<const std::string&>());
}

// One complete JSON document, or the parser's description of why `line` is not one. The parser
// reports errors by exception; none leaves this function. Its description quotes the bytes it
// stopped at, which need not be UTF-8, while the description ends up in a text of the protocol.
[[nodiscard]] std::expected<nlohmann::json, std::string> parse_json(std::string_view line) {
  try {
    return nlohmann::json::parse(line);
  } catch (const nlohmann::json::exception& error) {
    return std::unexpected(types::to_utf8_lossy(error.what()));
  }
}

std::vector<CleanupOption> build_options(const UsageFigures& figures,
                                         std::uint64_t dangling_bytes) {
  std::vector<CleanupOption> options;
  options.reserve(5);
  options.push_back({"dangling_images", "Dangling images",
                     "Remove untagged images not referenced by any container", dangling_bytes,
                     RiskLevel::Low});
  options.push_back({"build_cache", "Build cache", "Remove BuildKit layer cache",
                     figures.build_cache, RiskLevel::Low});
  options.push_back({"stopped_containers", "Stopped containers",
                     "Remove exited containers and their logs", figures.containers,
                     RiskLevel::Medium});
  options.push_back({"all_unused_images", "All unused images",
                     "Remove all images not used by a running container", figures.images,
                     RiskLevel::Medium});
  options.push_back({"unused_volumes", "Unused volumes",
                     "Remove volumes not attached to any container (may contain data)",
                     figures.local_volumes, RiskLevel::High});
  return options;
}

}  // namespace

std::expected<std::vector<types::CleanupOption>, StrategyError> parse_system_df(
    std::string_view output, std::uint64_t dangling_bytes) {
  UsageFigures figures;
  for (const auto line : trimmed_lines(output)) {
    auto document = parse_json(line);
    if (!document) {
      return std::unexpected(
          StrategyError::parse_error(fmt::format("Invalid JSON line: {}", document.error())));
    }
    std::uint64_t* figure = figure_for(figures, string_member(*document, "Type").value_or(""));
    if (figure == nullptr) continue;
    *figure = parse_reclaimable(string_member(*document, "Reclaimable").value_or("0B"));
  }
  return build_options(figures, dangling_bytes);
}

std::uint64_t parse_reclaimable(std::string_view text) {
  // The column reads like "1.234GB (45%)"; the share in parentheses is not a size.
  text = text.substr(0, text.find('('));
  text = trim_white_space(text);
  if (text.empty()) return 0;
  return parse_size(text).value_or(0);
}

}  // namespace sorvik_lib::strategies::docker
