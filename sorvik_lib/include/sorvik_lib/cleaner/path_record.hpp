// What each path of a clean was found to be before anything went: the one record per path that a
// screening hands the cleaner, so that a path is looked up once and decided once.
#pragma once

#include <cerrno>
#include <expected>
#include <span>
#include <vector>

#include "sorvik_lib/cleaner/file_identity.hpp"
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

// Records paths against the kept roots of one clean, matched by spelling and by identity. An
// absolute kept root may be named by a path spelled otherwise: another case or Unicode form on a
// volume that treats them as one name (APFS, HFS+), a bind mount, a link in a component above it.
// Such a path names the very same entry, so it is emptied too; a kept root that is a link is then
// emptied through, as with its own spelling. A link named as the path that is no kept root itself
// is still removed as the link it is. A relative kept root matches its own text alone.
class PathRecorder {
 public:
  // Reads which directory or link each absolute kept root is now, its final component not
  // followed; `kept_roots` must outlive this.
  explicit PathRecorder(const PathSet& kept_roots);

  // Looks `path` up with one status call, and one more for a link (or a path whose trailing
  // separator asks for a directory).
  [[nodiscard]] PathRecord record(types::Path path) const;

 private:
  const PathSet& kept_roots_;
  IdentitySet kept_entries_;
};

// Each of `paths` recorded, in order.
[[nodiscard]] std::vector<PathRecord> record_paths(std::span<const types::Path> paths,
                                                   const PathSet& kept_roots);

}  // namespace sorvik_lib::cleaner
