// Shared pieces of the tool's subcommands.
#include "command.hpp"

#include <fmt/format.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "sorvik_lib/sys/io.hpp"

namespace sorvik_cli {

int report_usage_error(std::string_view message) {
  fmt::print(stderr, "sorvik: {}\n", message);
  return kExitUsage;
}

int report_failure(std::string_view message) {
  fmt::print(stderr, "sorvik: {}\n", message);
  return kExitWorkFailed;
}

std::string help_footer(std::string_view details) {
  return fmt::format("{}\n\n{}", details, kExitStatusHelp);
}

int print_out(std::string_view text, int status) {
  if (auto written = sorvik_lib::sys::write_all(STDOUT_FILENO, text); !written) {
    return report_failure("cannot write to standard output: " + written.error().message());
  }
  return status;
}

}  // namespace sorvik_cli
