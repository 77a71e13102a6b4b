// Kept roots by components and by device and inode.
#include "sorvik_lib/cleaner/kept_roots.hpp"

#include "sorvik_lib/cleaner/tree.hpp"
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

bool KeptRoots::contains(const types::Path& path, const struct stat* entry) const {
  if (paths_.empty()) return false;
  if (paths_.contains(path)) return true;
  return entry != nullptr && (S_ISDIR(entry->st_mode) || S_ISLNK(entry->st_mode)) &&
         entries_.contains({entry->st_dev, entry->st_ino});
}

}  // namespace sorvik_lib::cleaner
