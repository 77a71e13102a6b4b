// Line splitting and white-space trimming for the text that docker prints.
#pragma once

#include <string_view>
#include <vector>

namespace sorvik_lib::strategies::docker {

// The lines of `text`, split at each "\n"; a "\r" just before a "\n" goes with it. Text after the
// last "\n" is a line only when it is not empty, so "a\n" is one line and "a\r" keeps its "\r".
[[nodiscard]] std::vector<std::string_view> split_lines(std::string_view text);

// `text` without Unicode white space (ASCII's and U+0085, U+00A0, U+1680, U+2000-U+200A, U+2028,
// U+2029, U+202F, U+205F, U+3000) at either end.
[[nodiscard]] std::string_view trim_white_space(std::string_view text);

// The lines of `text`, each trimmed, without those that are empty after trimming.
[[nodiscard]] std::vector<std::string_view> trimmed_lines(std::string_view text);

}  // namespace sorvik_lib::strategies::docker
