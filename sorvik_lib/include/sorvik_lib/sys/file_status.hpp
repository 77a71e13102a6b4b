// What a file is (its device and inode) and whether the system marks it as the root of a mount,
// read in one call from an open handle or from a name under one.
#pragma once

#include <sys/types.h>

#include <expected>

#include "sorvik_lib/sys/system_error.hpp"

namespace sorvik_lib::sys {

struct FileStatus {
  dev_t device = 0;
  ino_t inode = 0;
  mode_t mode = 0;
  // The system says it is the root of a mount. Where it cannot say (macOS), false: a mount root
  // is then told by a device other than its parent's.
  bool marked_mount_root = false;
  // The system says whether it is (statx knows the mark): marked_mount_root is then the answer.
  bool mount_root_known = false;
};

// The status of the open file `fd`.
[[nodiscard]] std::expected<FileStatus, SystemError> status_of(int fd);

// The status of `name` under the directory `dir_fd`, a final link not followed.
[[nodiscard]] std::expected<FileStatus, SystemError> status_at(int dir_fd, const char* name);

}  // namespace sorvik_lib::sys
