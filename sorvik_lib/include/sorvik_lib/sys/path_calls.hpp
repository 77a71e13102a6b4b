// System calls that name a file: by path, or by a name under a directory handle. Said once for all
// of them: a path holding a NUL byte names nothing (ENOENT), since the system would read only up
// to the NUL, another path; every handle is opened O_CLOEXEC, so that no child of the process ever
// holds one; a directory is opened O_NONBLOCK, so that a FIFO put where a directory was cannot
// hold the open up waiting for a writer; and an open is retried while it is interrupted.
#pragma once

#include <sys/stat.h>

#include <expected>
#include <string>

#include "sorvik_lib/sys/system_error.hpp"
#include "sorvik_lib/sys/unique_fd.hpp"

namespace sorvik_lib::sys {

// The path holds a NUL byte: it names nothing, for these calls and for any other.
[[nodiscard]] inline bool names_nothing(const std::string& path) {
  return path.find('\0') != std::string::npos;
}

// Whether a symbolic link in the final component is followed.
enum class FinalLink { Follow, NoFollow };

// stat, or lstat with FinalLink::NoFollow.
[[nodiscard]] std::expected<struct stat, SystemError> stat_path(const std::string& path,
                                                                FinalLink final_link);

// The directory `path` opened for listing and for *at() calls, a final link followed.
[[nodiscard]] std::expected<UniqueFd, SystemError> open_directory(const std::string& path);

// The directory `name` of `dir_fd` opened the same way, but O_NOFOLLOW unless told otherwise: a
// link in its place is never entered, the open fails instead (ELOOP, or ENOTDIR where the system
// says so).
[[nodiscard]] std::expected<UniqueFd, SystemError> open_directory_at(
    int dir_fd, const char* name, FinalLink final_link = FinalLink::NoFollow);

// The absolute path `path` resolves to, every link and "." and ".." taken (realpath).
[[nodiscard]] std::expected<std::string, SystemError> resolve_path(const std::string& path);

}  // namespace sorvik_lib::sys
