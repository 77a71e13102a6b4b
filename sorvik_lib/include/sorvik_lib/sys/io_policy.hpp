// How this process's file system calls treat files whose data lives elsewhere.
#pragma once

#include <expected>

#include "sorvik_lib/sys/system_error.hpp"

namespace sorvik_lib::sys {

// Keeps the process from materializing dataless files and folders (macOS's cloud placeholders,
// which iCloud Drive and file providers fetch on first use): measuring or walking a tree must
// never start a download. A listing of such a folder then fails instead, which a clean reports.
// Nothing to do, and no failure, where the system has no such files.
[[nodiscard]] std::expected<void, SystemError> keep_dataless_files_remote();

}  // namespace sorvik_lib::sys
