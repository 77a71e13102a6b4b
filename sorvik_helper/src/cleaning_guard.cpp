// Between screening and cleaning, any component of an accepted path may have been swapped for a
// link: the cleaner would then empty or remove whatever the link leads to, a forbidden root
// included. The cleaner opens a path's directory once and works only through that handle, so
// comparing the handle with what screening saw closes the gap for everything below it.
#include "cleaning_guard.hpp"

#include <sys/stat.h>

#include "sorvik_lib/sys/system_error.hpp"

namespace sorvik_helper {

std::expected<void, std::string> check_opened_directory(const ScreenedPaths& screened,
                                                        const sorvik_lib::types::Path& path,
                                                        int directory_fd) {
  struct stat status {};
  if (::fstat(directory_fd, &status) != 0) {
    return std::unexpected(sorvik_lib::sys::SystemError::from_errno().message());
  }
  const FileIdentity opened{status.st_dev, status.st_ino};
  if (screened.forbidden.contains(opened)) return std::unexpected("Path is forbidden: " + path);
  const auto seen = screened.identities.find(path);
  if (seen == screened.identities.end() || seen->second != opened) {
    return std::unexpected("Path changed while it was being cleaned: " + path);
  }
  return {};
}

}  // namespace sorvik_helper
