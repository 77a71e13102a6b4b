// The kept roots of a clean, matched by spelling and by identity. A kept root may be named by a
// path spelled otherwise: another case or Unicode form on a volume that treats them as one name
// (APFS, HFS+), a bind mount, a link in a component above it. Such a path names the very same
// directory, so it is emptied too; a link named as the path is still removed as the link it is.
#pragma once

#include <sys/stat.h>

#include "sorvik_lib/cleaner/file_identity.hpp"
#include "sorvik_lib/cleaner/path_set.hpp"
#include "sorvik_lib/types/records.hpp"

namespace sorvik_lib::cleaner {

class KeptRoots {
 public:
  // Reads which directory each of `paths` is now, its final component not followed; `paths` must
  // outlive this.
  explicit KeptRoots(const PathSet& paths);

  // `path` is a kept root by its components, or `entry` (the status of what `path` names, its
  // final component not followed; nullptr when it could not be read) is a directory that one of
  // the kept roots names.
  [[nodiscard]] bool contains(const types::Path& path, const struct stat* entry) const;

  [[nodiscard]] bool empty() const { return paths_.empty(); }

 private:
  const PathSet& paths_;
  IdentitySet directories_;
};

}  // namespace sorvik_lib::cleaner
