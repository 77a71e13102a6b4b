// Whole-buffer reads and writes on file descriptors, with EINTR and short transfers handled.
#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "sorvik_lib/sys/system_error.hpp"

namespace sorvik_lib::sys {

// Reads `fd` to its end. A regular file is read into a buffer sized from its status up front.
[[nodiscard]] std::expected<std::string, SystemError> read_all(int fd);

// Opens `path` for reading (following a symbolic link) and reads it whole.
[[nodiscard]] std::expected<std::string, SystemError> read_file(const char* path);

// Writes all of `data`, continuing after short writes, until done or an error occurs.
[[nodiscard]] std::expected<void, SystemError> write_all(int fd, std::string_view data);

}  // namespace sorvik_lib::sys
