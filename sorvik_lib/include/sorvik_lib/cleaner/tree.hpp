// Measuring and removing one path. Inside a tree nothing ever follows a symbolic link: links are
// entries of their own, count nothing and are removed, never their targets. A path holding a NUL
// byte does not exist for the system and is never cut short at the NUL.
#pragma once

#include <cstdint>
#include <expected>

#include "sorvik_lib/cleaner/clean_error.hpp"
#include "sorvik_lib/types/records.hpp"

namespace sorvik_lib::cleaner {

// The sum of the apparent lengths of the regular files at and below `path`, a hard-linked file
// once per link. A start that is a link to a directory is entered; a link to anything else counts
// nothing. Whatever cannot be read is skipped: the measure never fails.
[[nodiscard]] std::uint64_t tree_size(const types::Path& path);

// `path` without the trailing separators and "." components that would make the system resolve
// a link in its last component: "/a/link/" and "/a/link/." name the entry "/a/link". The root and
// paths made only of such parts stay as they are.
[[nodiscard]] types::Path entry_path(const types::Path& path);

// A directory (following a link at `path` to decide) goes with remove_tree, anything else with
// unlink; either way a link is removed and what it points to stays. Only the system's errors
// (CleanError::Kind::System) can stop it.
[[nodiscard]] std::expected<void, CleanError> remove_path(const types::Path& path);

// Removes the directory `path` with everything below it, or only the link when `path` is one
// (also when spelled with a trailing separator). Stops at the first error other than a vanished
// entry and returns it.
[[nodiscard]] std::expected<void, CleanError> remove_tree(const types::Path& path);

}  // namespace sorvik_lib::cleaner
