// Texts shown to people on a terminal: paths and messages made harmless (nothing in a file name
// can move the cursor, change colours or reverse the text), and fitted to a number of columns.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace sorvik_cli {

// `bytes` as readable UTF-8 (ill-formed sequences as U+FFFD) with every control, format or
// invisible character spelled out as an escape ("\n", "\t", "\u{1b}", "\u{202e}") and a backslash
// doubled, so a shown name cannot be mistaken for one holding an escape.
[[nodiscard]] std::string displayable(std::string_view bytes);

// As `displayable`, without the line breaks and spaces at the end that most programs put after
// an error message.
[[nodiscard]] std::string displayable_message(std::string_view bytes);

// The columns `text` (valid UTF-8 without controls) takes on a terminal. It errs on the wide
// side: every character from U+1100 on counts two columns, since fitting a line to the terminal
// only goes wrong when a line is thought narrower than it is.
[[nodiscard]] std::size_t display_width(std::string_view text);

// `text` cut in the middle, with "…" in place of what was left out, to at most `columns`
// columns; the end keeps more than the start, since that is where a path names its file. The
// cuts fall between characters, and between whole escapes of a `displayable` text ("\u{1b}").
[[nodiscard]] std::string shorten_middle(std::string_view text, std::size_t columns);

// The start of `text` that fits in `columns` columns, cut between characters and whole escapes.
[[nodiscard]] std::string truncate_to_width(std::string_view text, std::size_t columns);

}  // namespace sorvik_cli
