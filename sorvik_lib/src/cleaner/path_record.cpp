// Each path looked up once, before anything of a clean goes.
#include "sorvik_lib/cleaner/path_record.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include "sorvik_lib/sys/path_calls.hpp"

namespace sorvik_lib::cleaner {

using types::Path;

PathRecord record_path(Path path, const KeptRoots& kept_roots) {
  PathRecord record;
  const Path entry = entry_path(path);
  record.entry = sys::names_nothing(entry) ? std::unexpected(sys::SystemError(ENOENT))
                                           : sys::status_at(AT_FDCWD, entry.c_str());
  if (record.entry) {
    record.led_to = {record.entry->device, record.entry->inode};
    // A link leads on, and "file/" names nothing: the system's own lookup of the text says where.
    if (S_ISLNK(record.entry->mode) || (entry != path && !S_ISDIR(record.entry->mode))) {
      const auto led_to = sys::stat_path(path, sys::FinalLink::Follow);
      if (led_to) {
        record.led_to = {led_to->st_dev, led_to->st_ino};
      } else {
        record.entry = std::unexpected(led_to.error());
      }
    }
  }
  record.kept = kept_roots.contains(path, record.entry ? &*record.entry : nullptr);
  record.path = std::move(path);
  return record;
}

std::vector<PathRecord> record_paths(std::span<const Path> paths,
                                     const PathSet& preserve_root_paths) {
  const KeptRoots kept_roots(preserve_root_paths);
  std::vector<PathRecord> records;
  records.reserve(paths.size());
  for (const Path& path : paths) records.push_back(record_path(path, kept_roots));
  return records;
}

}  // namespace sorvik_lib::cleaner
