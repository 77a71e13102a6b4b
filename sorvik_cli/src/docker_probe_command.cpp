// `sorvik docker probe`: whether docker can be cleaned, and with which rights.
#include <memory>

#include "docker_command.hpp"
#include "docker_probe_text.hpp"
#include "sorvik_lib/strategies/strategy.hpp"

namespace sorvik_cli {
namespace {

int run_probe() {
  const auto strategy = sorvik_lib::strategies::get_strategy("docker");
  if (!strategy) return report_failure("no docker strategy in this build");
  const auto answer = strategy->probe();
  return print_out(
      describe_probe(answer) + "\n",
      answer == sorvik_lib::strategies::ProbeResult::Unavailable ? kExitWorkFailed : kExitSuccess);
}

}  // namespace

void add_docker_probe_command(CLI::App& docker, CommandAction& action,
                              const std::shared_ptr<DockerFlags>& flags) {
  auto* probe = docker.add_subcommand("probe", "Say whether docker can be cleaned, and how");
  add_docker_flags(*probe, flags,
                   "Prints Available (docker answers with your own rights), NeedsElevation (only\n"
                   "through sudo -n) or Unavailable, with a one-line explanation. Unavailable is\n"
                   "exit status 1.");
  probe->callback([flags, &action] { action = with_docker_flags(flags, run_probe); });
}

}  // namespace sorvik_cli
