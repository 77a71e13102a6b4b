// `sorvik clean [--dry-run] [--keep DIR]... [--json] PATH...`.
#include "clean_command.hpp"

#include <unistd.h>

#include <memory>
#include <optional>

#include "clean_report.hpp"
#include "handle_clean_request.hpp"
#include "live_progress.hpp"
#include "result_format.hpp"
#include "terminal.hpp"

namespace sorvik_cli {
namespace {

namespace progress = sorvik_lib::cleaner::progress;

struct CleanOptions {
  std::vector<std::string> paths;
  std::vector<std::string> keep;
  bool dry_run = false;
  bool json = false;
};

int run_clean(const CleanOptions& options) {
  const CleanMode mode = options.dry_run ? CleanMode::DryRun : CleanMode::Delete;
  // A person watching gets the line and the report; anything else gets a document to parse.
  const bool for_a_person = !options.json && is_terminal(STDOUT_FILENO);
  std::optional<LiveProgress> live;
  if (for_a_person) live.emplace(STDOUT_FILENO, mode);
  std::vector<ListedPath> listed;
  const sorvik_lib::cleaner::ProgressCallback on_progress =
      [&](sorvik_lib::cleaner::CleanProgress event) {
        if (mode == CleanMode::DryRun) {
          if (const auto* cleaned = std::get_if<progress::PathCleaned>(&event)) {
            listed.push_back({cleaned->path, cleaned->bytes});
          }
        }
        if (live) live->on_event(event);
      };
  const auto result = sorvik_helper::screen_and_clean({options.paths, options.keep},
                                                      options.dry_run, on_progress, {})
                          .result;
  if (live) live->finish();
  print_out(for_a_person ? format_clean_report(result, mode, listed)
                         : result_to_json(result).dump(2) + "\n");
  return result.errors.empty() ? kExitSuccess : kExitWorkFailed;
}

}  // namespace

void add_clean_command(CLI::App& app, CommandAction& action) {
  auto options = std::make_shared<CleanOptions>();
  auto* clean = app.add_subcommand(
      "clean", "Delete PATHs now, with the helper's safety rules and your own rights");
  clean->footer(help_footer(
      "Each PATH must be absolute, free of \"..\" and not a system root; a refused path is\n"
      "reported as an error and the others are still cleaned. A PATH also given with --keep is\n"
      "emptied and stays. On a terminal a progress line runs while the work goes on, then a\n"
      "summary in docker's units (1kB = 1000 bytes) and the errors. Otherwise, or with --json,\n"
      "a JSON document with removed, errors and bytesFreed is printed."));
  clean->add_option("paths", options->paths, "Absolute paths to delete")
      ->required()
      ->type_name("PATH");
  // One DIR per --keep, so that a path after it is never taken for a second kept root.
  clean->add_option("--keep", options->keep, "A directory to empty rather than remove (repeatable)")
      ->allow_extra_args(false)
      ->type_name("DIR");
  clean->add_flag("--dry-run", options->dry_run,
                  "Delete nothing: list what would go, with its size");
  clean->add_flag("--json", options->json, "Print JSON even on a terminal");
  clean->callback([options, &action] { action = [options] { return run_clean(*options); }; });
}

}  // namespace sorvik_cli
