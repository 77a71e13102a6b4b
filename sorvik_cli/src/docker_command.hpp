// `sorvik docker probe|options|prune`: the docker strategy, asked and run from a terminal.
#pragma once

#include <memory>

#include "command.hpp"

namespace sorvik_cli {

// The cleanup options that `docker prune` and `request docker` accept, for help texts.
inline constexpr const char* kDockerOptionIds =
    "dangling_images, build_cache, stopped_containers, all_unused_images, unused_volumes";

void add_docker_command(CLI::App& app, CommandAction& action);

// What every docker subcommand accepts.
struct DockerFlags {
  bool verbose = false;  // the strategy's log records on standard error
};

// Adds --verbose and the help footer with `details` to `command`.
void add_docker_flags(CLI::App& command, const std::shared_ptr<DockerFlags>& flags,
                      std::string_view details);
// `run`, with the flags put into effect first.
[[nodiscard]] CommandAction with_docker_flags(std::shared_ptr<DockerFlags> flags,
                                              CommandAction run);

// The three subcommands, each in a file of its own.
void add_docker_probe_command(CLI::App& docker, CommandAction& action,
                              const std::shared_ptr<DockerFlags>& flags);
void add_docker_options_command(CLI::App& docker, CommandAction& action,
                                const std::shared_ptr<DockerFlags>& flags);
void add_docker_prune_command(CLI::App& docker, CommandAction& action,
                              const std::shared_ptr<DockerFlags>& flags);

}  // namespace sorvik_cli
