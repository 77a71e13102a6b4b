// What each path of a clean was found to be before anything went: the one record per path that a
// screening hands the cleaner, so that a path is looked up once and decided once.
#pragma once

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

// A path of a clean where something was found, with its place in the clean's list. A path without
// one names nothing and is skipped, so that a million missing paths hold no second list.
struct PathRecord {
  std::size_t index = 0;
  // What the path named itself (a final link as the link), or why nothing could be looked at there
  // (ENAMETOOLONG: it may exist all the same).
  std::expected<sys::FileStatus, sys::SystemError> entry;
  FileIdentity led_to;  // what it led to, links followed
  bool kept = false;    // a kept root: emptied and left in place, never removed

  [[nodiscard]] ExpectedTop expected() const { return {{entry->device, entry->inode}, led_to}; }
};

// Records paths against the kept roots of one clean, by spelling and by identity: an absolute kept
// root spelled otherwise (another case or Unicode form on APFS or HFS+, a bind mount, a link above
// it) names the same entry and is emptied too. A link that is no kept root itself is removed as a
// link. A relative kept root matches its own text alone.
class PathRecorder {
 public:
  // Reads which directory or link each absolute kept root is now; `kept_roots` must outlive this.
  explicit PathRecorder(const PathSet& kept_roots);

  // Looks `path` (at `index`) up with one status call, and one more for a link or a trailing
  // separator. Nothing when nothing was found there.
  [[nodiscard]] std::optional<PathRecord> record(const types::Path& path, std::size_t index) const;

 private:
  const PathSet& kept_roots_;
  IdentitySet kept_entries_;
};

// The records of `paths`, in order.
[[nodiscard]] std::vector<PathRecord> record_paths(std::span<const types::Path> paths,
                                                   const PathSet& kept_roots);

}  // namespace sorvik_lib::cleaner
