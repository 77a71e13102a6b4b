// Runs docker's query commands, retrying once through `sudo -n` when the plain run fails, and
// judges whether `docker info` saw a daemon.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace sorvik_lib::strategies::docker {

// The output of a docker run that succeeded.
struct DockerOutput {
  std::string stdout_text;  // the run's standard output, ill-formed UTF-8 replaced by U+FFFD
  bool elevated = false;    // only the `sudo -n` retry succeeded

  friend bool operator==(const DockerOutput&, const DockerOutput&) = default;
};

// `docker` with `arguments`, from PATH, standard input on the null device. When it runs but
// fails, `sudo -n docker` with the same arguments is tried once; when it cannot be started at
// all, nothing is retried. Absent when neither run exits with status 0.
[[nodiscard]] std::optional<DockerOutput> run_docker_command(
    std::span<const std::string> arguments);

// Whether the output of `docker info --format {{json .}}` comes from a reachable daemon: not
// empty, and without "ServerErrors" or "Cannot connect" anywhere in it.
[[nodiscard]] bool is_daemon_running_from_output(std::string_view output);

}  // namespace sorvik_lib::strategies::docker
