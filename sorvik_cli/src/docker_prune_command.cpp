// `sorvik docker prune OPTION... [--yes] [--json]`: the docker strategy's clean, as the helper
// runs it.
#include <fmt/format.h>
#include <fmt/ranges.h>
#include <unistd.h>

#include <memory>
#include <optional>

#include "confirmation.hpp"
#include "display_text.hpp"
#include "docker_command.hpp"
#include "result_format.hpp"
#include "sorvik_lib/strategies/docker/prune.hpp"
#include "sorvik_lib/strategies/strategy.hpp"
#include "terminal.hpp"

namespace sorvik_cli {
namespace {

struct PruneOptions {
  std::vector<std::string> option_ids;
  bool json = false;
  bool yes = false;
};

// A person at a terminal confirms first; scripts (no terminal on either side) and --yes do not.
// The exit status when the prune must not go on.
[[nodiscard]] std::optional<int> unconfirmed(const PruneOptions& options) {
  if (options.yes || !is_terminal(STDIN_FILENO) || !is_terminal(STDOUT_FILENO)) return std::nullopt;
  const auto answer = ask_yes_no(fmt::format("Prune {} with docker? This cannot be undone.",
                                             fmt::join(options.option_ids, ", ")),
                                 STDIN_FILENO, STDOUT_FILENO);
  if (!answer) return report_failure("cannot ask for confirmation: " + answer.error().message());
  if (!*answer) return report_failure("not confirmed; nothing was pruned");
  return std::nullopt;
}

int prune(const PruneOptions& options) {
  auto strategy = sorvik_lib::strategies::get_strategy("docker");
  if (!strategy) return report_failure("no docker strategy in this build");
  if (const auto status = unconfirmed(options)) return *status;
  auto executed = strategy->execute(options.option_ids, nullptr);
  // Reported as the helper would report it, so both roads print the same thing.
  const auto result = executed ? std::move(*executed)
                               : sorvik_lib::types::single_error_result(
                                     "managed://docker", executed.error().display_text());
  return print_out(options.json ? result_to_json(result).dump(2) + "\n" : format_result(result),
                   result.errors.empty() ? kExitSuccess : kExitWorkFailed);
}

// Refuses an unknown option while parsing, so nothing runs for a typing mistake.
const CLI::Validator kKnownOption(
    [](std::string& id) -> std::string {
      if (sorvik_lib::strategies::docker::get_prune_command(id)) return {};
      return "unknown cleanup option \"" + displayable(id) + "\"; the options are " +
             kDockerOptionIds;
    },
    "");

}  // namespace

void add_docker_prune_command(CLI::App& docker, CommandAction& action,
                              const std::shared_ptr<DockerFlags>& flags) {
  auto options = std::make_shared<PruneOptions>();
  auto* prune_command =
      docker.add_subcommand("prune", "Run docker's prune for each OPTION, in order");
  prune_command
      ->add_option("options", options->option_ids,
                   std::string("Cleanup options: ") + kDockerOptionIds)
      ->required()
      ->check(kKnownOption)
      ->type_name("OPTION");
  prune_command->add_flag("--json", options->json,
                          "Print JSON: removed, errors and bytesFreed, as `sorvik result --json`");
  prune_command->add_flag("-y,--yes", options->yes, "Prune without asking first on a terminal");
  add_docker_flags(
      *prune_command, flags,
      "Runs with your own rights, as the helper would, and prints what was pruned, the\n"
      "errors (docker's own message) and the bytes docker reports as freed, in the\n"
      "forms of `sorvik result`. On a terminal (standard input and output both) it asks\n"
      "\"[y/N]\" first unless --yes is given; any answer but y or yes prunes nothing and is\n"
      "exit status 1. Exit status 1 also when any prune failed.");
  prune_command->callback([flags, options, &action] {
    action = with_docker_flags(flags, [options] { return prune(*options); });
  });
}

}  // namespace sorvik_cli
