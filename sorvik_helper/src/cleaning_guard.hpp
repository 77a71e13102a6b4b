// The last look before the cleaner empties or removes a directory: the directory it has actually
// opened must still be the one that screening accepted under that path.
#pragma once

#include <expected>
#include <string>

#include "path_screening.hpp"
#include "sorvik_lib/types/records.hpp"

namespace sorvik_helper {

// Refuses the directory open as `directory_fd` for the accepted `path` when it is one of the
// forbidden directories ("Path is forbidden: {}") or not the directory screening saw there, also
// when screening saw nothing there ("Path changed while it was being cleaned: {}"). A directory
// that cannot be examined is refused with the system's error text.
[[nodiscard]] std::expected<void, std::string> check_opened_directory(
    const ScreenedPaths& screened, const sorvik_lib::types::Path& path, int directory_fd);

}  // namespace sorvik_helper
