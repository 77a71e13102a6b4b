// The walks over a directory tree, all through handles and without recursion: measuring the
// regular files below a directory, removing a directory with everything below it, and emptying a
// directory that stays.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <expected>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sorvik_lib/cleaner/clean_error.hpp"
#include "sorvik_lib/cleaner/file_identity.hpp"
#include "sorvik_lib/cleaner/tree_operations.hpp"
#include "sorvik_lib/sys/file_status.hpp"
#include "sorvik_lib/sys/system_error.hpp"
#include "sorvik_lib/sys/unique_fd.hpp"
#include "walk_controls.hpp"

namespace sorvik_lib::cleaner {

// At most this many directory handles of one walk are open at a time, whatever the depth.
inline constexpr std::size_t kMaxOpenDirectories = 16;

// A directory is listed at most this many times in one removal or emptying. APFS and HFS+ miss
// entries deleted during a listing, and one or two more passes find them; more allow for a volume
// that misses more. Past it, a directory that is still not empty has someone adding to it as fast
// as it is emptied, and its removal fails with ENOTEMPTY instead of going on for as long as they
// do.
inline constexpr int kMaxListings = 8;

// The one rule for listing a directory again after `listings` passes, the last of which removed
// something (`removed_some`) and still left it not empty, or not known to be.
[[nodiscard]] constexpr bool lists_again(int listings, bool removed_some) {
  return removed_some && listings < kMaxListings;
}

// Which directory a handle is: what a parent must still be when it is reached again by "..".
using DirectoryIdentity = FileIdentity;

// Measures everything below `directory` (`status`). Links are not followed and count nothing.
[[nodiscard]] TreeMeasure measure_directory(sys::UniqueFd directory, const sys::FileStatus& status,
                                            const WalkControls& controls = {});

// Removes the directory `directory` (`status`), opened as `name` of `parent_fd`, with everything
// below it. A vanished entry is not an error; any other error stops the removal at once and is
// returned. True when the directory itself had vanished by its turn: someone else removed it.
[[nodiscard]] std::expected<bool, CleanError> remove_directory_at(
    int parent_fd, const char* name, sys::UniqueFd directory, const sys::FileStatus& status,
    const WalkControls& controls = {});

// Removes everything in the directory `directory_fd` (`status`), which stays, each entry as
// remove_directory_at would take it, but the entries named in `left_whole`, which are not touched.
// It lists the directory itself, through a fresh handle each time, and an entry that cannot go
// fails alone, into `outcome`'s entry failures (the listing with no name): the emptying goes on
// with the next and does not try it again. A forbidden directory or the cancel flag ends it with
// `outcome`'s error; a directory deleted meanwhile by someone else leaves `outcome` absent.
void empty_directory(int directory_fd, const sys::FileStatus& status, const WalkControls& controls,
                     const std::set<std::string>& left_whole, TreeOutcome& outcome);

// Opens the parent of the directory `child_fd` through "..", and only if it is still the directory
// `expected`; a directory moved elsewhere meanwhile gives ESTALE and is not opened.
[[nodiscard]] std::expected<sys::UniqueFd, sys::SystemError> reopen_parent(
    int child_fd, const DirectoryIdentity& expected);

}  // namespace sorvik_lib::cleaner
