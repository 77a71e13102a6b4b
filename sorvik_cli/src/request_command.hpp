// `sorvik request`: writes an encoded request, as the application would hand it to the helper.
#pragma once

#include "command.hpp"

namespace sorvik_cli {

void add_request_command(CLI::App& app, CommandAction& action);

}  // namespace sorvik_cli
