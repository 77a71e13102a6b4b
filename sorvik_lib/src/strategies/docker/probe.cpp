// The docker strategy's availability check: is the CLI there, and does a daemon answer it, with
// our own rights or only through sudo.
#include <fmt/format.h>

#include <vector>

#include "docker_log.hpp"
#include "sorvik_lib/strategies/docker/command_runner.hpp"
#include "sorvik_lib/strategies/docker/docker_strategy.hpp"
#include "sorvik_lib/sys/process.hpp"

namespace sorvik_lib::strategies::docker {
namespace {

// `docker --version` needs no daemon, so it tells a missing CLI from a missing daemon.
bool cli_answers() {
  const std::vector<std::string> command = {"docker", "--version"};
  sys::ProcessOptions options;
  options.input_mode = sys::InputMode::Inherit;
  options.output_mode = sys::OutputMode::Null;
  options.error_mode = sys::OutputMode::Null;
  const auto result = sys::run_process(command, options);
  return result && result->status.success();
}

}  // namespace

ProbeResult DockerStrategy::probe() const {
  if (!cli_answers()) {
    log_info([] { return std::string("Docker probe: CLI not available"); });
    return ProbeResult::Unavailable;
  }
  const std::vector<std::string> arguments = {"info", "--format", "{{json .}}"};
  const auto info = run_docker_command(arguments);
  ProbeResult answer = ProbeResult::Unavailable;
  if (info && is_daemon_running_from_output(info->stdout_text)) {
    answer = info->elevated ? ProbeResult::NeedsElevation : ProbeResult::Available;
  }
  log_info([&] { return fmt::format("Docker probe: {}", to_string(answer)); });
  return answer;
}

}  // namespace sorvik_lib::strategies::docker
