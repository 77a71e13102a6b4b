// The walks over a directory tree, all through handles and without recursion: measuring the
// regular files below a directory, removing a directory with everything below it, and emptying a
// directory that stays.
#pragma once

#include <cstddef>
#include <expected>
#include <set>
#include <string>

#include "sorvik_lib/cleaner/clean_error.hpp"
#include "sorvik_lib/cleaner/file_identity.hpp"
#include "sorvik_lib/sys/system_error.hpp"
#include "sorvik_lib/sys/unique_fd.hpp"
#include "walk_controls.hpp"
#include "walk_results.hpp"

namespace sorvik_lib::cleaner {

// At most this many directory handles of one walk are open at a time, whatever the depth.
inline constexpr std::size_t kMaxOpenDirectories = 16;

// A directory is listed at most this many times in one removal or emptying. APFS and HFS+ miss
// entries deleted during a listing, and one or two more passes find them; more allow for a volume
// that misses more. Past it, a directory that is still not empty has someone adding to it as fast
// as it is emptied, and its removal fails with ENOTEMPTY instead of going on for as long as they
// do.
inline constexpr int kMaxListings = 8;

// Which directory a handle is: what a parent must still be when it is reached again by "..".
using DirectoryIdentity = FileIdentity;

// Measures everything below `directory`. Links are not followed and count nothing.
[[nodiscard]] TreeMeasure measure_directory(sys::UniqueFd directory,
                                            const WalkControls& controls = {});

// Removes the directory `directory`, opened as `name` of `parent_fd`, with everything below it. A
// vanished entry is not an error; any other error stops the removal at once and is returned.
[[nodiscard]] std::expected<void, CleanError> remove_directory_at(
    int parent_fd, const char* name, sys::UniqueFd directory, const WalkControls& controls = {});

// Removes everything in the directory `directory_fd`, which stays, each entry as
// remove_directory_at would take it, but the entries named in `left_whole`, which are not touched.
// An entry that cannot go is handed to `on_entry_failed`, and the walk goes on with the next and
// does not try it again; a failure of the directory itself (its listing, or coming back to it) is
// handed over with no name and ends the emptying. Fails only when a forbidden directory or the
// cancel flag stops it.
[[nodiscard]] std::expected<void, CleanError> empty_directory(
    int directory_fd, const WalkControls& controls, const EntryFailed& on_entry_failed,
    std::set<std::string> left_whole = {});

// Opens the parent of the directory `child_fd` through "..", and only if it is still the directory
// `expected`; a directory moved elsewhere meanwhile gives ESTALE and is not opened.
[[nodiscard]] std::expected<sys::UniqueFd, sys::SystemError> reopen_parent(
    int child_fd, const DirectoryIdentity& expected);

// The identity of the open file `fd`.
[[nodiscard]] std::expected<FileIdentity, sys::SystemError> identity_of(int fd);

}  // namespace sorvik_lib::cleaner
