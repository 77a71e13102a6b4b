// Kept roots by components and by device and inode.
#include "sorvik_lib/cleaner/kept_roots.hpp"

#include <sys/stat.h>

#include "sorvik_lib/cleaner/tree_operations.hpp"
#include "sorvik_lib/sys/path_calls.hpp"

namespace sorvik_lib::cleaner {

KeptRoots::KeptRoots(const PathSet& paths) : paths_(paths) {
  for (const types::Path& path : paths_) {
    // A relative spelling would be read from wherever the process was started.
    if (!path.starts_with('/')) continue;
    const auto status = sys::stat_path(entry_path(path), sys::FinalLink::NoFollow);
    if (status && (S_ISDIR(status->st_mode) || S_ISLNK(status->st_mode))) {
      entries_.insert({status->st_dev, status->st_ino});
    }
  }
}

bool KeptRoots::contains(const types::Path& path, const sys::FileStatus* entry) const {
  if (paths_.empty()) return false;
  if (paths_.contains(path)) return true;
  return entry != nullptr && (S_ISDIR(entry->mode) || S_ISLNK(entry->mode)) &&
         entries_.contains({entry->device, entry->inode});
}

}  // namespace sorvik_lib::cleaner
