// The two walks over a directory tree, both through handles and without recursion: measuring the
// regular files below a directory and removing everything below it.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>

#include "sorvik_lib/sys/system_error.hpp"
#include "sorvik_lib/sys/unique_fd.hpp"
#include "walk_controls.hpp"

namespace sorvik_lib::cleaner {

// At most this many directory handles of one walk are open at a time, whatever the depth.
inline constexpr std::size_t kMaxOpenDirectories = 16;

// Which directory a handle is: what a parent must still be when it is reached again by "..".
using DirectoryIdentity = FileIdentity;

// What a measure found.
struct TreeMeasure {
  std::uint64_t bytes = 0;      // apparent lengths of the regular files, once per link
  std::uint64_t allocated = 0;  // their allocated blocks, a file of several links once
  std::uint64_t entries = 0;    // everything listed, the start aside
  // Set when the walk met a forbidden directory or was cancelled; what it counted so far stays.
  // Whatever cannot be read is skipped and is no reason to stop.
  std::optional<WalkStop> stop;
};

// Adds the regular file `status` to `measure` (apparent length, and allocated blocks unless
// `controls` has counted the file's blocks already under another link).
void count_regular_file(const struct stat& status, const WalkControls& controls,
                        TreeMeasure& measure);

// Measures everything below `directory`. Links are not followed and count nothing.
[[nodiscard]] TreeMeasure measure_directory(sys::UniqueFd directory,
                                            const WalkControls& controls = {});

// Removes everything below `directory`, leaving it empty, and returns how many entries went. A
// vanished entry is not an error; any other error stops the removal at once and is returned.
[[nodiscard]] std::expected<std::uint64_t, WalkStop> empty_directory(
    sys::UniqueFd directory, const WalkControls& controls = {});

// Removes the directory `directory`, opened as `name` of `parent_fd`, with everything below it,
// listing it again while its removal finds it not yet empty and a pass gets somewhere. Returns how
// many entries went, the directory included.
[[nodiscard]] std::expected<std::uint64_t, WalkStop> remove_directory_at(
    int parent_fd, const char* name, sys::UniqueFd directory, const WalkControls& controls = {});

// Removes the entry `name` of `dir_fd` by the listing's `type`: a directory (never through a link)
// with all it holds, anything else with one unlinkat. Returns how many entries went, the entry
// itself included; a vanished entry is not an error.
[[nodiscard]] std::expected<std::uint64_t, WalkStop> remove_entry_at(
    int dir_fd, const char* name, unsigned char type, const WalkControls& controls = {});

// Opens the parent of the directory `child_fd` through "..", and only if it is still the directory
// `expected`; a directory moved elsewhere meanwhile gives ESTALE and is not opened.
[[nodiscard]] std::expected<sys::UniqueFd, sys::SystemError> reopen_parent(
    int child_fd, const DirectoryIdentity& expected);

// The identity of the open file `fd`.
[[nodiscard]] std::expected<FileIdentity, sys::SystemError> identity_of(int fd);

}  // namespace sorvik_lib::cleaner
