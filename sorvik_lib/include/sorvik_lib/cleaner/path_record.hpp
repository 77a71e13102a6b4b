// What each path of a clean was found to be before anything went: the one record per path that a
// screening hands the cleaner, so that a path is looked up once and decided once.
#pragma once

#include <cerrno>
#include <cstddef>
#include <expected>
#include <optional>
#include <span>
#include <vector>

#include "sorvik_lib/cleaner/file_identity.hpp"
#include "sorvik_lib/cleaner/path_set.hpp"
#include "sorvik_lib/cleaner/tree_operations.hpp"
#include "sorvik_lib/sys/file_status.hpp"
#include "sorvik_lib/sys/system_error.hpp"
#include "sorvik_lib/types/records.hpp"

namespace sorvik_lib::cleaner {

// What a path of a clean was found to be before anything went, with its place in the clean's list.
// Only a path where something was found has one; a path without is skipped as naming nothing (a
// missing path, a link leading nowhere, a lookup that failed), so that a request of a million
// missing paths holds no second list.
struct PathRecord {
  std::size_t index = 0;  // of the path in the clean's list
  // What the path named itself (a final link as the link), or the reason to report why nothing
  // could be looked at there (ENAMETOOLONG: it may exist all the same).
  std::expected<sys::FileStatus, sys::SystemError> entry;
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

  // Looks `path`, at `index`, up with one status call, and one more for a link (or a path whose
  // trailing separator asks for a directory). Nothing when nothing was found there.
  [[nodiscard]] std::optional<PathRecord> record(const types::Path& path, std::size_t index) const;

 private:
  const PathSet& kept_roots_;
  IdentitySet kept_entries_;
};

// The records of `paths`, in order.
[[nodiscard]] std::vector<PathRecord> record_paths(std::span<const types::Path> paths,
                                                   const PathSet& kept_roots);

}  // namespace sorvik_lib::cleaner
