// Between screening and cleaning, any component of an accepted path may have been swapped for a
// link: the cleaner would then empty or remove whatever the link leads to, a forbidden root
// included. The cleaner opens the top of a path once and works only through that handle, so
// comparing what it holds with what screening saw closes the gap for everything below it.
#include "cleaning_guard.hpp"

namespace sorvik_helper {

std::expected<void, std::string> check_top_entry(const ScreenedPaths& screened,
                                                 const sorvik_lib::types::Path& path,
                                                 const struct stat& status) {
  const FileIdentity found{status.st_dev, status.st_ino};
  if (screened.forbidden.contains(found)) return std::unexpected("Path is forbidden: " + path);
  const auto& seen = S_ISDIR(status.st_mode) ? screened.identities : screened.entry_identities;
  const auto identity = seen.find(path);
  if (identity == seen.end() || identity->second != found) {
    return std::unexpected("Path changed while it was being cleaned: " + path);
  }
  return {};
}

}  // namespace sorvik_helper
