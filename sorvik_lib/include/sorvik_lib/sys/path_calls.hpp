// System calls that take a path by name. The system reads a path only up to its first NUL byte,
// so a path holding one would name its own prefix, something else: to these calls such a path
// names nothing (ENOENT).
#pragma once

#include <sys/stat.h>

#include <expected>
#include <string>

#include "sorvik_lib/sys/system_error.hpp"

namespace sorvik_lib::sys {

// Whether a symbolic link in the final component is followed.
enum class FinalLink { Follow, NoFollow };

// stat, or lstat with FinalLink::NoFollow.
[[nodiscard]] std::expected<struct stat, SystemError> stat_path(const std::string& path,
                                                                FinalLink final_link);

}  // namespace sorvik_lib::sys
