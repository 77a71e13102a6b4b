// The docker strategy's clean: one prune child per requested option, strictly one after another,
// each reported under its own pseudo-path.
#include <fmt/format.h>

#include "docker_log.hpp"
#include "sorvik_lib/log/quoted.hpp"
#include "sorvik_lib/strategies/docker/docker_strategy.hpp"
#include "sorvik_lib/strategies/docker/prune.hpp"
#include "sorvik_lib/sys/process.hpp"
#include "sorvik_lib/types/saturating.hpp"
#include "sorvik_lib/types/utf8.hpp"

namespace sorvik_lib::strategies::docker {

std::expected<types::CleanResult, StrategyError> DockerStrategy::execute(
    const std::vector<std::string>& options, const std::atomic<bool>* stop) const {
  log_info([&] { return fmt::format("Docker execute: options={}", log::quoted_list(options)); });

  // All identifiers are resolved before the first prune: a failure of the whole call after some
  // prunes had run would leave those prunes reported nowhere.
  std::vector<std::vector<std::string>> commands;
  commands.reserve(options.size());
  for (const auto& option : options) {
    auto command = get_prune_command(option);
    if (!command) {
      return std::unexpected(
          StrategyError::command_failed(fmt::format("Unknown cleanup option: {}", option)));
    }
    commands.push_back(std::move(*command));
  }

  types::CleanResult result;
  sys::ProcessOptions process_options;
  // A prune asked for -f never reads its input; should one ever ask, it sees end of input.
  process_options.input_mode = sys::InputMode::Null;
  process_options.output_mode = sys::OutputMode::Capture;
  process_options.error_mode = sys::OutputMode::Capture;
  process_options.cancel = stop;
  for (std::size_t i = 0; i < options.size(); ++i) {
    const std::string& option = options[i];
    const std::vector<std::string>& command = commands[i];
    std::string pseudo_path = "managed://docker/" + option;
    if (stop != nullptr && stop->load()) {
      result.errors.push_back({std::move(pseudo_path), "Cancelled"});
      continue;
    }
    log_info([&] { return fmt::format("Docker prune: running {}", log::quoted_list(command)); });

    auto run = sys::run_process(command, process_options);
    if (!run) return std::unexpected(StrategyError::command_failed(run.error().message()));
    const std::string output = types::to_utf8_lossy(run->output);
    std::string error = types::to_utf8_lossy(run->error);
    log_info([&] {
      return fmt::format("Docker prune [{}]: exit={}, stdout={}, stderr={}", option,
                         run->status.to_string(), log::quoted(output), log::quoted(error));
    });

    // A prune that got to its end before the stop reached it has done its work and says so.
    if (run->status.success()) {
      types::add_saturating(result.bytesFreed, parse_prune_output(output));
      result.removed.push_back(std::move(pseudo_path));
    } else if (run->cancelled) {
      result.errors.push_back({std::move(pseudo_path), "Cancelled"});
    } else {
      result.errors.push_back({std::move(pseudo_path), std::move(error)});
    }
  }

  log_info([&] {
    return fmt::format("Docker execute complete: removed={}, failed={}, bytes_freed={}",
                       result.removed.size(), result.errors.size(), result.bytesFreed);
  });
  return result;
}

}  // namespace sorvik_lib::strategies::docker
