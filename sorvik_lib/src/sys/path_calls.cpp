// Path-taking system calls, each refusing a path that holds a NUL byte.
#include "sorvik_lib/sys/path_calls.hpp"

#include <fcntl.h>

namespace sorvik_lib::sys {
namespace {

bool names_nothing(const std::string& path) { return path.find('\0') != std::string::npos; }

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

}  // namespace sorvik_lib::sys
