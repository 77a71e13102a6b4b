// The managed-cache strategy for docker: it prunes docker's images, build cache, containers and
// volumes through the docker command-line program, and asks the same program what is in use.
#pragma once

#include "sorvik_lib/strategies/strategy.hpp"

namespace sorvik_lib::strategies::docker {

class DockerStrategy final : public ManagedCacheStrategy {
 public:
  // Available when `docker info` answers directly, NeedsElevation when it answers only through
  // `sudo -n`, Unavailable otherwise.
  [[nodiscard]] ProbeResult probe() const override;

  // The five docker cleanups, always in the same order, sized from `docker system df` and the
  // dangling-image listing.
  [[nodiscard]] std::expected<std::vector<types::CleanupOption>, StrategyError>
  get_cleanup_options() const override;

  // One `docker ... prune` per identifier, in order, with the helper's own rights. Every
  // identifier is checked before the first prune starts. A stop sends the running docker SIGTERM.
  [[nodiscard]] std::expected<types::CleanResult, StrategyError> execute(
      const std::vector<std::string>& options, const std::atomic<bool>* stop) const override;
};

}  // namespace sorvik_lib::strategies::docker
