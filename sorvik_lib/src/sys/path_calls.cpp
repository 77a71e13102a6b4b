// Path-taking system calls, each refusing a path that holds a NUL byte.
#include "sorvik_lib/sys/path_calls.hpp"

#include <fcntl.h>

#include <cstdlib>
#include <memory>

namespace sorvik_lib::sys {
namespace {

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC;

[[nodiscard]] std::expected<UniqueFd, SystemError> open_retried(int dir_fd, const char* name,
                                                                int flags) {
  int fd;
  do {
    fd = ::openat(dir_fd, name, flags);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return std::unexpected(SystemError::from_errno());
  return UniqueFd(fd);
}

}  // namespace

std::expected<struct stat, SystemError> stat_path(const std::string& path, FinalLink final_link) {
  if (names_nothing(path)) return std::unexpected(SystemError(ENOENT));
  struct stat status {};
  const int flags = final_link == FinalLink::NoFollow ? AT_SYMLINK_NOFOLLOW : 0;
  if (::fstatat(AT_FDCWD, path.c_str(), &status, flags) != 0) {
    return std::unexpected(SystemError::from_errno());
  }
  return status;
}

std::expected<UniqueFd, SystemError> open_directory(const std::string& path) {
  if (names_nothing(path)) return std::unexpected(SystemError(ENOENT));
  return open_retried(AT_FDCWD, path.c_str(), kDirectoryFlags);
}

std::expected<UniqueFd, SystemError> open_directory_at(int dir_fd, const char* name,
                                                       FinalLink final_link) {
  return open_retried(dir_fd, name,
                      kDirectoryFlags | (final_link == FinalLink::NoFollow ? O_NOFOLLOW : 0));
}

std::expected<std::string, SystemError> resolve_path(const std::string& path) {
  if (names_nothing(path)) return std::unexpected(SystemError(ENOENT));
  const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                             &std::free);
  if (!resolved) return std::unexpected(SystemError::from_errno());
  return std::string(resolved.get());
}

}  // namespace sorvik_lib::sys
