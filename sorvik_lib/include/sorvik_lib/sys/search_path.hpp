// Where a program named without a "/" is looked for: the absolute entries of the inherited
// search path, in order, and nowhere else. The helper runs as root from wherever it was started,
// so neither the working directory (an empty or relative entry) nor the C library's default list
// (when there is no PATH at all) may ever supply the program.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sorvik_lib::sys {

// The value of `name` in an environment block (entries "NAME=value", ending with nullptr);
// nothing when it is not set. The first entry wins, as getenv has it.
[[nodiscard]] std::optional<std::string_view> environment_value(char* const* environment,
                                                                std::string_view name);

// The paths to try for `program`, in order: `program` itself when it holds a "/"; otherwise
// each absolute entry of `search_path` (the text of PATH, entries separated by ":") joined with
// it, empty and relative entries skipped. No search path, or an empty program name, gives none.
[[nodiscard]] std::vector<std::string> program_candidates(
    std::string_view program, std::optional<std::string_view> search_path);

}  // namespace sorvik_lib::sys
