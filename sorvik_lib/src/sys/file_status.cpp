// File status through statx where it tells mount roots, fstat and fstatat elsewhere.
#include "sorvik_lib/sys/file_status.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include "sorvik_lib/platform.hpp"

#if SORVIK_HAS_STATX_MOUNT_ROOT
#include <sys/sysmacros.h>
#endif

namespace sorvik_lib::sys {
namespace {

#if SORVIK_HAS_STATX_MOUNT_ROOT
// The same one call as fstatat; the device is always filled in.
[[nodiscard]] std::expected<FileStatus, SystemError> status(int dir_fd, const char* name,
                                                            int flags) {
  struct statx status {};
  if (::statx(dir_fd, name, flags, STATX_TYPE | STATX_INO, &status) != 0) {
    return std::unexpected(SystemError::from_errno());
  }
  const bool known = (status.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0;
  const bool marked = known && (status.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
  return FileStatus{makedev(status.stx_dev_major, status.stx_dev_minor), status.stx_ino,
                    status.stx_mode, marked, known};
}
#else
[[nodiscard]] FileStatus from_stat(const struct stat& status) {
  return FileStatus{status.st_dev, status.st_ino, status.st_mode, false, false};
}
#endif

}  // namespace

std::expected<FileStatus, SystemError> status_of(int fd) {
#if SORVIK_HAS_STATX_MOUNT_ROOT
  return status(fd, "", AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW);
#else
  struct stat status {};
  if (::fstat(fd, &status) != 0) return std::unexpected(SystemError::from_errno());
  return from_stat(status);
#endif
}

std::expected<FileStatus, SystemError> status_at(int dir_fd, const char* name) {
#if SORVIK_HAS_STATX_MOUNT_ROOT
  return status(dir_fd, name, AT_SYMLINK_NOFOLLOW);
#else
  struct stat status {};
  if (::fstatat(dir_fd, name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
    return std::unexpected(SystemError::from_errno());
  }
  return from_stat(status);
#endif
}

}  // namespace sorvik_lib::sys
