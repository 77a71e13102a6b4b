// The two walks over a directory tree, both through handles and without recursion: measuring the
// regular files below a directory and removing everything below it.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <expected>

#include "sorvik_lib/sys/system_error.hpp"
#include "sorvik_lib/sys/unique_fd.hpp"

namespace sorvik_lib::cleaner {

// At most this many directory handles of one walk are open at a time, whatever the depth.
inline constexpr std::size_t kMaxOpenDirectories = 16;

// Which directory a handle is: what a parent must still be when it is reached again by "..".
struct DirectoryIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  friend bool operator==(const DirectoryIdentity&, const DirectoryIdentity&) = default;
};

// The sum of the apparent lengths of the regular files below `directory`. Links are not followed
// and count nothing; whatever cannot be read is skipped.
[[nodiscard]] std::uint64_t measure_directory(sys::UniqueFd directory);

// Removes everything below `directory`, leaving it empty. A vanished entry is not an error; any
// other error stops the removal at once and is returned.
[[nodiscard]] std::expected<void, sys::SystemError> empty_directory(sys::UniqueFd directory);

// Removes the entry `name` of `dir_fd` by the listing's `type`: a directory (never through a link)
// with all it holds, anything else with one unlinkat. A vanished entry is not an error.
[[nodiscard]] std::expected<void, sys::SystemError> remove_entry_at(int dir_fd, const char* name,
                                                                    unsigned char type);

// Opens the parent of the directory `child_fd` through "..", and only if it is still the directory
// `expected`; a directory moved elsewhere meanwhile gives ESTALE and is not opened.
[[nodiscard]] std::expected<sys::UniqueFd, sys::SystemError> reopen_parent(
    int child_fd, const DirectoryIdentity& expected);

}  // namespace sorvik_lib::cleaner
