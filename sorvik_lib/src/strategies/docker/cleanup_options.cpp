// The docker strategy's listing of its cleanups, sized from what docker reports as reclaimable.
#include <fmt/format.h>

#include "docker_log.hpp"
#include "output_lines.hpp"
#include "sorvik_lib/log/quoted.hpp"
#include "sorvik_lib/strategies/docker/command_runner.hpp"
#include "sorvik_lib/strategies/docker/docker_strategy.hpp"
#include "sorvik_lib/strategies/docker/usage.hpp"
#include "sorvik_lib/strategies/parse_size.hpp"
#include "sorvik_lib/types/saturating.hpp"

namespace sorvik_lib::strategies::docker {
namespace {

// `docker system df` has no row for dangling images alone, so their sizes are listed and added
// up. A failed listing only makes that one figure unknown.
std::uint64_t dangling_image_bytes() {
  const std::vector<std::string> arguments = {"image",         "ls",       "-f",
                                              "dangling=true", "--format", "{{.Size}}"};
  const auto listing = run_docker_command(arguments);
  if (!listing) return 0;
  std::uint64_t total = 0;
  for (const auto line : trimmed_lines(listing->stdout_text)) {
    types::add_saturating(total, parse_size(line).value_or(0));
  }
  return total;
}

}  // namespace

std::expected<std::vector<types::CleanupOption>, StrategyError>
DockerStrategy::get_cleanup_options() const {
  const std::vector<std::string> arguments = {"system", "df", "--format", "{{json .}}"};
  const auto usage = run_docker_command(arguments);
  if (!usage) return std::unexpected(StrategyError::command_failed("docker system df failed"));
  const std::uint64_t dangling_bytes = dangling_image_bytes();
  log_info([&] {
    return fmt::format("Docker get_cleanup_options: dangling_size={}, df_stdout={}", dangling_bytes,
                       log::quoted(usage->stdout_text));
  });
  return parse_system_df(usage->stdout_text, dangling_bytes);
}

}  // namespace sorvik_lib::strategies::docker
