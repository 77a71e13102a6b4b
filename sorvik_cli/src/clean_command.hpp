// `sorvik clean`: the helper's screening and cleaner, run in-process with the rights of whoever
// runs the tool, with a live progress line on a terminal and JSON everywhere else.
#pragma once

#include "command.hpp"

namespace sorvik_cli {

void add_clean_command(CLI::App& app, CommandAction& action);

}  // namespace sorvik_cli
