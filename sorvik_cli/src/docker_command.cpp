// `sorvik docker`: the group that holds probe, options and prune, and what they share.
#include "docker_command.hpp"

#include "stderr_log_sink.hpp"

namespace sorvik_cli {

void add_docker_command(CLI::App& app, CommandAction& action) {
  auto* docker = app.add_subcommand(
      "docker", "Ask docker what can be cleaned, and clean it, as the helper's strategy does");
  docker->require_subcommand(1);
  docker->footer(kExitStatusHelp);
  const auto flags = std::make_shared<DockerFlags>();
  add_docker_probe_command(*docker, action, flags);
  add_docker_options_command(*docker, action, flags);
  add_docker_prune_command(*docker, action, flags);
}

void add_docker_flags(CLI::App& command, const std::shared_ptr<DockerFlags>& flags,
                      std::string_view details) {
  command.add_flag("-v,--verbose", flags->verbose,
                   "Show what the docker strategy runs and what docker answers, on standard error");
  command.footer(help_footer(details));
}

CommandAction with_docker_flags(std::shared_ptr<DockerFlags> flags, CommandAction run) {
  return [flags = std::move(flags), run = std::move(run)] {
    if (flags->verbose) log_to_standard_error();
    return run();
  };
}

}  // namespace sorvik_cli
