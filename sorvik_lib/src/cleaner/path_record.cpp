// Each path looked up once, before anything of a clean goes.
#include "sorvik_lib/cleaner/path_record.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include "sorvik_lib/sys/path_calls.hpp"

namespace sorvik_lib::cleaner {

using types::Path;

namespace {

bool is_directory_or_link(mode_t mode) { return S_ISDIR(mode) || S_ISLNK(mode); }

}  // namespace

PathRecorder::PathRecorder(const PathSet& kept_roots) : kept_roots_(kept_roots) {
  for (const Path& root : kept_roots_) {
    // A relative spelling would be read from wherever the process was started.
    if (!root.starts_with('/')) continue;
    const auto status = sys::stat_path(entry_path(root), sys::FinalLink::NoFollow);
    if (status && is_directory_or_link(status->st_mode)) {
      kept_entries_.insert({status->st_dev, status->st_ino});
    }
  }
}

std::optional<PathRecord> PathRecorder::record(const Path& path, std::size_t index) const {
  const Path entry = entry_path(path);
  if (sys::names_nothing(entry)) return std::nullopt;
  PathRecord record{index, sys::status_at(AT_FDCWD, entry.c_str()), {}, false};
  if (record.entry) {
    record.led_to = {record.entry->device, record.entry->inode};
    // A link leads on, and "file/" names nothing: the system's own lookup of the text says where.
    if (S_ISLNK(record.entry->mode) || (entry != path && !S_ISDIR(record.entry->mode))) {
      if (const auto led_to = sys::stat_path(path, sys::FinalLink::Follow)) {
        record.led_to = {led_to->st_dev, led_to->st_ino};
      } else {
        record.entry = std::unexpected(led_to.error());
      }
    }
  }
  if (!record.entry && record.entry.error().number() != ENAMETOOLONG) return std::nullopt;
  record.kept = !kept_roots_.empty() &&
                (kept_roots_.contains(path) ||
                 (record.entry && is_directory_or_link(record.entry->mode) &&
                  kept_entries_.contains({record.entry->device, record.entry->inode})));
  return record;
}

std::vector<PathRecord> record_paths(std::span<const Path> paths, const PathSet& kept_roots) {
  const PathRecorder recorder(kept_roots);
  std::vector<PathRecord> records;
  for (std::size_t index = 0; index < paths.size(); ++index) {
    if (auto record = recorder.record(paths[index], index)) records.push_back(std::move(*record));
  }
  return records;
}

}  // namespace sorvik_lib::cleaner
