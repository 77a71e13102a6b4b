// Shared pieces of the tool's subcommands.
#include "command.hpp"

#include <fmt/format.h>

#include <cstdio>

namespace sorvik_cli {

int report_usage_error(std::string_view message) {
  fmt::print(stderr, "sorvik: {}\n", message);
  return kExitUsage;
}

}  // namespace sorvik_cli
