// `sorvik docker options [--json]`: the docker cleanups and what each would free.
#include <memory>

#include "docker_command.hpp"
#include "options_format.hpp"
#include "sorvik_lib/strategies/strategy.hpp"

namespace sorvik_cli {
namespace {

int list_options(bool json) {
  const auto strategy = sorvik_lib::strategies::get_strategy("docker");
  if (!strategy) return report_failure("no docker strategy in this build");
  const auto options = strategy->get_cleanup_options();
  if (!options) return report_failure(options.error().display_text());
  return print_out(json ? options_to_json(*options).dump(2) + "\n" : format_options_table(*options),
                   kExitSuccess);
}

}  // namespace

void add_docker_options_command(CLI::App& docker, CommandAction& action,
                                const std::shared_ptr<DockerFlags>& flags) {
  auto json = std::make_shared<bool>(false);
  auto* options =
      docker.add_subcommand("options", "List docker's cleanup options and what each would free");
  options->add_flag("--json", *json,
                    "Print JSON: id, label, description, reclaimableBytes and risk of each");
  add_docker_flags(*options, flags,
                   "A table of the five options (id, label, risk, what docker reports as\n"
                   "reclaimable, description) and the total, or JSON with --json. Exit status 1\n"
                   "when docker cannot report its disk usage.");
  options->callback([flags, json, &action] {
    action = with_docker_flags(flags, [json] { return list_options(*json); });
  });
}

}  // namespace sorvik_cli
