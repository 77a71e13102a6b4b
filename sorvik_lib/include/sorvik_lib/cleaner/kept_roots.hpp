// The kept roots of a clean, matched by spelling and by identity. An absolute kept root may be
// named by a path spelled otherwise: another case or Unicode form on a volume that treats them as
// one name (APFS, HFS+), a bind mount, a link in a component above it. Such a path names the very
// same entry, so it is emptied too; a kept root that is a link is then emptied through, as with
// its own spelling. A link named as the path that is no kept root itself is still removed as the
// link it is. A relative kept root matches its own text alone.
#pragma once

#include "sorvik_lib/cleaner/file_identity.hpp"
#include "sorvik_lib/cleaner/path_set.hpp"
#include "sorvik_lib/sys/file_status.hpp"
#include "sorvik_lib/types/records.hpp"

namespace sorvik_lib::cleaner {

class KeptRoots {
 public:
  // Reads which directory or link each absolute one of `paths` is now, its final component not
  // followed; `paths` must outlive this.
  explicit KeptRoots(const PathSet& paths);

  // `path` is a kept root by its components, or `entry` (the status of what `path` names, its
  // final component not followed; nullptr when it could not be read) is a directory or link that
  // one of the absolute kept roots names.
  [[nodiscard]] bool contains(const types::Path& path, const sys::FileStatus* entry) const;

  [[nodiscard]] bool empty() const { return paths_.empty(); }

 private:
  const PathSet& paths_;
  IdentitySet entries_;
};

}  // namespace sorvik_lib::cleaner
