// `sorvik clean [--dry-run] [--keep DIR]... [--json] PATH...`.
#include "clean_command.hpp"

#include <unistd.h>

#include <algorithm>
#include <memory>
#include <optional>

#include "clean_arguments.hpp"
#include "clean_report.hpp"
#include "display_text.hpp"
#include "interrupt_signals.hpp"
#include "live_progress.hpp"
#include "sorvik_lib/sys/io_policy.hpp"
#include "sorvik_screening/handle_clean_request.hpp"
#include "terminal.hpp"

namespace sorvik_cli {
namespace {

namespace cleaner = sorvik_lib::cleaner;
namespace progress = sorvik_lib::cleaner::progress;

struct TreeOptions {
  std::vector<std::string> paths;
  std::vector<std::string> keep;
  bool dry_run = false;
  bool json = false;
};

// The request with every PATH and DIR absolute, or the exit status of what stood in the way.
[[nodiscard]] std::expected<sorvik_lib::types::ElevatedCleanRequest, int> absolute_request(
    const TreeOptions& options) {
  sorvik_lib::types::ElevatedCleanRequest request{options.paths, options.keep};
  const auto is_relative = [](const std::string& path) {
    return !path.empty() && !path.starts_with('/');
  };
  if (std::ranges::any_of(request.paths, is_relative) ||
      std::ranges::any_of(request.preserveRootPaths, is_relative)) {
    const auto directory = working_directory();
    if (!directory) {
      return std::unexpected(
          report_failure("cannot read the working directory: " + directory.error().message()));
    }
    for (auto& path : request.paths) path = make_absolute(path, *directory);
    for (auto& path : request.preserveRootPaths) path = make_absolute(path, *directory);
  }
  if (const auto stray = keep_not_among_paths(request.paths, request.preserveRootPaths)) {
    return std::unexpected(report_usage_error("--keep DIR is not among the PATHs: " +
                                              displayable(options.keep[*stray])));
  }
  return request;
}

int run_clean(const TreeOptions& options) {
  auto request = absolute_request(options);
  if (!request) return request.error();
  // Installed before anything goes, so that Ctrl-C from here on leaves a report, not half a tree.
  const auto signals = InterruptSignals::install();
  if (!signals) {
    return report_failure("cannot take over Ctrl-C: " + signals.error().message());
  }

  const CleanMode mode = options.dry_run ? CleanMode::DryRun : CleanMode::Delete;
  // A person watching gets the line and the report; anything else gets a document to parse.
  const bool for_a_person = !options.json && is_terminal(STDOUT_FILENO);
  std::optional<LiveProgress> live;
  if (for_a_person) live.emplace(STDOUT_FILENO, mode);
  std::vector<ListedPath> listed;
  const cleaner::ProgressCallback on_progress = [&](cleaner::CleanProgress event) {
    if (mode == CleanMode::DryRun) {
      if (const auto* cleaned = std::get_if<progress::PathCleaned>(&event)) {
        listed.push_back({cleaned->path, cleaned->bytes});
      }
    }
    if (live) live->on_event(event);
  };
  cleaner::TreeOptions clean_options;
  clean_options.cancel = &signals->flag();
  if (live) {
    clean_options.on_progress = [&live](const cleaner::TreeProgress& event) {
      live->on_tree_progress(event);
    };
  }
  // As in the helper: a clean never downloads a cloud placeholder, and goes on where it cannot say
  // so.
  (void)sorvik_lib::sys::keep_dataless_files_remote();
  const auto outcome = sorvik_helper::screen_and_clean(
      std::move(*request), options.dry_run ? cleaner::DryRun::Yes : cleaner::DryRun::No,
      on_progress, std::move(clean_options));
  if (live) live->finish();

  const int status = outcome.cancelled               ? kExitInterrupted
                     : outcome.result.errors.empty() ? kExitSuccess
                                                     : kExitWorkFailed;
  return print_out(for_a_person ? format_clean_report(outcome, mode, listed)
                                : clean_to_json(outcome, mode).dump(2) + "\n",
                   status);
}

}  // namespace

void add_clean_command(CLI::App& app, CommandAction& action) {
  auto options = std::make_shared<TreeOptions>();
  auto* clean = app.add_subcommand(
      "clean", "Delete PATHs now, with the helper's safety rules and your own rights");
  clean->footer(help_footer(
      "A relative PATH or DIR is taken from the working directory. Each PATH must then be free\n"
      "of \"..\" and not a system root; a refused path is reported as an error and the others\n"
      "are still cleaned. Each DIR must be one of the PATHs: that PATH is emptied and stays.\n"
      "On a terminal a progress line runs while the work goes on (paths done, bytes, the\n"
      "entries of the path at hand and their rate), then a summary in docker's units\n"
      "(1kB = 1000 bytes) with the space the files took on disk, and the errors. Otherwise,\n"
      "or with --json, a JSON document with removed, errors, bytesFreed, bytesAllocated,\n"
      "dryRun and interrupted is printed. Ctrl-C or SIGTERM stops after the entry at hand:\n"
      "what went so far is reported, and the exit status is 130."));
  clean->add_option("paths", options->paths, "Paths to delete")->required()->type_name("PATH");
  // One DIR per --keep, so that a path after it is never taken for a second kept root.
  clean->add_option("--keep", options->keep, "A PATH to empty rather than remove (repeatable)")
      ->allow_extra_args(false)
      ->type_name("DIR");
  clean->add_flag("--dry-run", options->dry_run,
                  "Delete nothing: list what would go, with its size");
  clean->add_flag("--json", options->json, "Print JSON even on a terminal");
  clean->callback([options, &action] { action = [options] { return run_clean(*options); }; });
}

}  // namespace sorvik_cli
