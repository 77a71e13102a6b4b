// The runner of docker's query commands, with its one non-interactive retry through sudo: on a
// machine where only root may reach the daemon, `sudo -n` succeeds for users allowed to run
// docker without a password, and fails at once (never prompts) for everyone else.
#include "sorvik_lib/strategies/docker/command_runner.hpp"

#include <vector>

#include "sorvik_lib/sys/process.hpp"
#include "sorvik_lib/types/utf8.hpp"

namespace sorvik_lib::strategies::docker {
namespace {

enum class Outcome { NotStarted, Failed, Succeeded };

struct Run {
  Outcome outcome = Outcome::NotStarted;
  std::string output;
};

Run run_quietly(std::span<const std::string> command) {
  sys::ProcessOptions options;
  options.input_mode = sys::InputMode::Null;
  // Standard error is captured only so that the child never writes into ours; it is dropped.
  options.output_mode = sys::OutputMode::Capture;
  options.error_mode = sys::OutputMode::Capture;
  auto result = sys::run_process(command, options);
  if (!result) return {};
  if (!result->status.success()) return {Outcome::Failed, {}};
  return {Outcome::Succeeded, std::move(result->output)};
}

std::vector<std::string> with_prefix(std::initializer_list<std::string_view> prefix,
                                     std::span<const std::string> arguments) {
  std::vector<std::string> command(prefix.begin(), prefix.end());
  command.insert(command.end(), arguments.begin(), arguments.end());
  return command;
}

}  // namespace

std::optional<DockerOutput> run_docker_command(std::span<const std::string> arguments) {
  const Run direct = run_quietly(with_prefix({"docker"}, arguments));
  if (direct.outcome == Outcome::Succeeded) {
    return DockerOutput{types::to_utf8_lossy(direct.output), false};
  }
  // A docker that cannot even be started will not start under sudo either.
  if (direct.outcome == Outcome::NotStarted) return std::nullopt;
  const Run elevated = run_quietly(with_prefix({"sudo", "-n", "docker"}, arguments));
  if (elevated.outcome != Outcome::Succeeded) return std::nullopt;
  return DockerOutput{types::to_utf8_lossy(elevated.output), true};
}

bool is_daemon_running_from_output(std::string_view output) {
  // The CLI prints an info document even without a daemon; it then names the failure inside it.
  if (output.find("ServerErrors") != std::string_view::npos) return false;
  if (output.find("Cannot connect") != std::string_view::npos) return false;
  return !output.empty();
}

}  // namespace sorvik_lib::strategies::docker
