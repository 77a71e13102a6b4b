// What every subcommand of the `sorvik` tool shares: how it registers, and its exit statuses.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <string_view>

namespace sorvik_cli {

// Exit statuses of the tool.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitWorkFailed = 1;  // the work ran and reported errors
inline constexpr int kExitUsage = 2;       // bad usage or bad input

// Set by the subcommand that was chosen on the command line; run after parsing.
using CommandAction = std::function<int()>;

// Prints "sorvik: {message}" on standard error and returns kExitUsage.
int report_usage_error(std::string_view message);

}  // namespace sorvik_cli
