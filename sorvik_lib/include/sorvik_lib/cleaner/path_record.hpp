// What each path of a clean was found to be before anything went: the one record per path that a
// screening hands the cleaner, so that a path is looked up once and decided once.
#pragma once

#include <cerrno>
#include <expected>
#include <span>
#include <vector>

#include "sorvik_lib/cleaner/file_identity.hpp"
#include "sorvik_lib/cleaner/kept_roots.hpp"
#include "sorvik_lib/cleaner/path_set.hpp"
#include "sorvik_lib/cleaner/tree_operations.hpp"
#include "sorvik_lib/sys/file_status.hpp"
#include "sorvik_lib/sys/system_error.hpp"
#include "sorvik_lib/types/records.hpp"

namespace sorvik_lib::cleaner {

struct PathRecord {
  types::Path path;
  // What the path named itself (a final link as the link), or why nothing could be found there:
  // it does not exist, a link leads nowhere, or the lookup failed (ENAMETOOLONG, EACCES...).
  std::expected<sys::FileStatus, sys::SystemError> entry =
      std::unexpected(sys::SystemError(ENOENT));
  FileIdentity led_to;  // what it led to, links followed: the entry itself unless that is a link
  bool kept = false;    // a kept root: emptied and left in place, never removed

  [[nodiscard]] ExpectedTop expected() const { return {{entry->device, entry->inode}, led_to}; }
};

// Looks `path` up with one status call, and one more for a link (or a path whose trailing
// separator asks for a directory), and decides once whether it is one of `kept_roots`.
[[nodiscard]] PathRecord record_path(types::Path path, const KeptRoots& kept_roots);

// record_path for each of `paths`, in order.
[[nodiscard]] std::vector<PathRecord> record_paths(std::span<const types::Path> paths,
                                                   const PathSet& preserve_root_paths);

}  // namespace sorvik_lib::cleaner
