// `sorvik result`: decodes the helper's encoded result and prints it.
#pragma once

#include "command.hpp"

namespace sorvik_cli {

void add_result_command(CLI::App& app, CommandAction& action);

}  // namespace sorvik_cli
