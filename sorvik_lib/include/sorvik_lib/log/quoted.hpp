// The quoted, escaped form in which log messages show texts: between double quotes, with
// backslash escapes for quotes, backslashes and the usual control characters, and \u{hex} for
// every other character that would not show on a terminal.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace sorvik_lib::log {

// `text` in double quotes: \" \\ \n \r \t \0, and other non-printable characters as \u{hex}
// (lower-case, no leading zeros). Ill-formed UTF-8 shows as U+FFFD.
[[nodiscard]] std::string quoted(std::string_view text);

// The same escapes without the surrounding quotes, and with double quotes left as they are: a
// text that is safe to show on a terminal, for example a file name in a tool's output.
[[nodiscard]] std::string escaped(std::string_view text);

// `["a", "b"]`: each element quoted, separated by ", ", in brackets.
[[nodiscard]] std::string quoted_list(std::span<const std::string> texts);

}  // namespace sorvik_lib::log
