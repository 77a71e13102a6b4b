// Measuring and removing one path. Inside a tree nothing ever follows a symbolic link: links are
// entries of their own, count nothing and are removed, never their targets. A path holding a NUL
// byte does not exist for the system and is never cut short at the NUL.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <expected>
#include <functional>
#include <string>
#include <variant>

#include "sorvik_lib/sys/system_error.hpp"
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
// unlink; either way a link is removed and what it points to stays.
[[nodiscard]] std::expected<void, sys::SystemError> remove_path(const types::Path& path);

// Asked about what a removal is about to take at the top, before anything goes: the status of the
// directory it has opened there (fstat of the handle), or of the entry it is about to unlink
// (lstat through the handle of the directory holding it). Whatever the path names by now, that is
// what would go. An error is the message of a refusal.
using TopEntryCheck = std::function<std::expected<void, std::string>(const struct stat& status)>;

// A removal that the check on its top directory refused, with the check's message.
struct RemovalRefused {
  std::string message;
};

// Why a checked removal stopped.
using RemovalFailure = std::variant<sys::SystemError, RemovalRefused>;

// The text a failure is reported with.
[[nodiscard]] std::string message_of(const RemovalFailure& failure);

// remove_path that asks `check` (when set) about the directory it opens at the top of a tree, or
// about the file or link it is about to unlink there. Nothing below the top is shown to it.
[[nodiscard]] std::expected<void, RemovalFailure> remove_path(const types::Path& path,
                                                              const TopEntryCheck& check);

// Removes the directory `path` with everything below it, or only the link when `path` is one
// (also when spelled with a trailing separator). Stops at the first error other than a vanished
// entry and returns it.
[[nodiscard]] std::expected<void, sys::SystemError> remove_tree(const types::Path& path);

}  // namespace sorvik_lib::cleaner
