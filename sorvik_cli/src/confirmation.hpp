// Asking a person at a terminal before doing something that cannot be undone.
#pragma once

#include <expected>
#include <string_view>

#include "sorvik_lib/sys/system_error.hpp"

namespace sorvik_cli {

// Whether an answer to a "[y/N]" question says yes: "y" or "yes" in any case, with blanks (and a
// terminal's "\r") around it. Anything else, an empty answer included, is no.
[[nodiscard]] bool answered_yes(std::string_view answer);

// Writes `question` and " [y/N] " to `out`, then reads one line from `in`; the end of input
// before a line is no.
[[nodiscard]] std::expected<bool, sorvik_lib::sys::SystemError> ask_yes_no(
    std::string_view question, int in, int out);

}  // namespace sorvik_cli
