// What the tool asks of the terminal it may be writing to.
#pragma once

#include <cstddef>

namespace sorvik_cli {

// Whether `fd` is a terminal.
[[nodiscard]] bool is_terminal(int fd);

// The width of the terminal on `fd` in columns, or 80 when it does not say.
[[nodiscard]] std::size_t terminal_columns(int fd);

}  // namespace sorvik_cli
