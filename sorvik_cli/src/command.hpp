// What every subcommand of the `sorvik` tool shares: how it registers, its exit statuses, and
// where its output goes.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <string>
#include <string_view>

namespace sorvik_cli {

// Exit statuses of the tool.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitWorkFailed = 1;     // the work reported errors, or its output was lost
inline constexpr int kExitUsage = 2;          // bad usage or bad input
inline constexpr int kExitInterrupted = 130;  // stopped by SIGINT or SIGTERM, as shells report it

// The footer of every --help text.
inline constexpr const char* kExitStatusHelp =
    "Exit status: 0 all good, 1 the work reported errors or standard output could not be\n"
    "written, 2 bad usage or input, 130 `clean` interrupted by Ctrl-C or SIGTERM.\n"
    "Output for people and documents for scripts go to standard output; diagnostics go to\n"
    "standard error.";

// A --help footer: `details` about the subcommand, then the exit statuses.
[[nodiscard]] std::string help_footer(std::string_view details);

// Set by the subcommand that was chosen on the command line; run after parsing.
using CommandAction = std::function<int()>;

// Prints "sorvik: {message}" on standard error and returns kExitUsage.
int report_usage_error(std::string_view message);

// Prints "sorvik: {message}" on standard error and returns kExitWorkFailed.
int report_failure(std::string_view message);

// Writes `text` to standard output as it is and returns `status`. Output that could not be
// written (a full disk, a reader gone) is work lost: the reason goes to standard error and the
// status is kExitWorkFailed.
[[nodiscard]] int print_out(std::string_view text, int status);

}  // namespace sorvik_cli
