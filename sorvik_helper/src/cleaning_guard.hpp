// The last look before the cleaner empties or removes what an accepted path names: it must still
// be what screening accepted under that path.
#pragma once

#include <sys/stat.h>

#include <expected>
#include <string>

#include "path_screening.hpp"
#include "sorvik_lib/types/records.hpp"

namespace sorvik_helper {

// Refuses what the cleaner is about to clean for the accepted `path` (`status` as the cleaner
// found it: a directory it opened, or the entry it is about to unlink) when it is one of the
// forbidden directories ("Path is forbidden: {}") or not what screening saw there, also when
// screening saw nothing there ("Path changed while it was being cleaned: {}"). A directory is
// compared with what the path led to, links followed; anything else with the entry itself.
[[nodiscard]] std::expected<void, std::string> check_top_entry(const ScreenedPaths& screened,
                                                               const sorvik_lib::types::Path& path,
                                                               const struct stat& status);

}  // namespace sorvik_helper
