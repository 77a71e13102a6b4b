// File status through statx where it tells mount roots, fstatat elsewhere.
#include "sorvik_lib/sys/file_status.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "sorvik_lib/platform.hpp"

namespace sorvik_lib::sys {
namespace {

[[nodiscard]] std::expected<FileStatus, SystemError> status(int dir_fd, const char* name,
                                                            int flags) {
#if SORVIK_HAS_STATX_MOUNT_ROOT
  // The same one call as fstatat; the device is always filled in.
  struct statx status {};
  if (::statx(dir_fd, name, flags, STATX_TYPE | STATX_INO, &status) != 0) {
    return std::unexpected(SystemError::from_errno());
  }
  return FileStatus{
      makedev(status.stx_dev_major, status.stx_dev_minor), status.stx_ino, status.stx_mode,
      (status.stx_attributes_mask & status.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0};
#else
  struct stat status {};
  if (::fstatat(dir_fd, name, &status, flags) != 0) {
    return std::unexpected(SystemError::from_errno());
  }
  return FileStatus{status.st_dev, status.st_ino, status.st_mode, false};
#endif
}

}  // namespace

std::expected<FileStatus, SystemError> status_of(int fd) {
#if SORVIK_HAS_STATX_MOUNT_ROOT
  return status(fd, "", AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW);
#else
  struct stat status {};
  if (::fstat(fd, &status) != 0) return std::unexpected(SystemError::from_errno());
  return FileStatus{status.st_dev, status.st_ino, status.st_mode, false};
#endif
}

std::expected<FileStatus, SystemError> status_at(int dir_fd, const char* name) {
  return status(dir_fd, name, AT_SYMLINK_NOFOLLOW);
}

}  // namespace sorvik_lib::sys
