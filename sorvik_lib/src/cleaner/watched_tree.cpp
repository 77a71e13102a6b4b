// Measuring, removing and emptying one path given by name; the walks below its top work through
// handles.
#include "watched_tree.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "sorvik_lib/cleaner/tree.hpp"
#include "sorvik_lib/sys/path_calls.hpp"
#include "tree_walk.hpp"

namespace sorvik_lib::cleaner {

using sys::UniqueFd;
using types::Path;

namespace {

// The top of a removal: the directory that holds the entry, opened by name once, and the entry's
// name in it. Everything after goes through that handle, so the entry that was looked at and
// checked is the entry that goes, even if a directory above it is swapped meanwhile.
struct TopEntry {
  UniqueFd parent;  // none for the root and for a bare relative name
  std::string name;

  [[nodiscard]] int parent_fd() const { return parent.valid() ? parent.get() : AT_FDCWD; }
};

[[nodiscard]] std::expected<TopEntry, CleanError> open_top(const Path& path) {
  // A trailing separator would make the system resolve a final link, so it is dropped.
  Path entry = entry_path(path);
  if (sys::names_nothing(entry))
    return std::unexpected(CleanError::system(sys::SystemError(ENOENT)));
  const auto separator = entry.rfind('/');
  if (separator == Path::npos || separator + 1 == entry.size()) return TopEntry{{}, entry};
  auto parent = sys::open_directory(separator == 0 ? Path("/") : entry.substr(0, separator));
  if (!parent) return std::unexpected(CleanError::system(parent.error()));
  return TopEntry{std::move(*parent), entry.substr(separator + 1)};
}

[[nodiscard]] std::expected<void, CleanError> ask(const TopEntryGuard& guard, const Path& path,
                                                  const struct stat& status) {
  if (auto allowed = guard(path, status); !allowed) {
    return std::unexpected(CleanError::refused(std::move(allowed.error())));
  }
  return {};
}

// The guard (when set) on the directory opened at the top.
[[nodiscard]] std::expected<void, CleanError> ask_about(const TopEntryGuard& guard,
                                                        const Path& path,
                                                        const UniqueFd& directory) {
  if (!guard) return {};
  struct stat status {};
  if (::fstat(directory.get(), &status) != 0) return std::unexpected(CleanError::from_errno());
  return ask(guard, path, status);
}

[[nodiscard]] std::expected<void, CleanError> unlink_top(const TopEntry& top,
                                                         const TopEntryGuard& guard,
                                                         const Path& path) {
  if (guard) {
    struct stat status {};
    if (::fstatat(top.parent_fd(), top.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
      return std::unexpected(CleanError::from_errno());
    }
    if (auto allowed = ask(guard, path, status); !allowed) return allowed;
  }
  if (::unlinkat(top.parent_fd(), top.name.c_str(), 0) != 0) {
    return std::unexpected(CleanError::from_errno());
  }
  return {};
}

}  // namespace

TreeMeasure measure_path(const Path& path, const WalkControls& controls) {
  // The start alone may be a link that leads to a directory, which is then entered.
  if (auto directory = sys::open_directory(path)) {
    return measure_directory(std::move(*directory), controls);
  }
  TreeMeasure measure;
  auto status = sys::stat_path(path, sys::FinalLink::NoFollow);
  if (status && S_ISREG(status->st_mode)) count_regular_file(*status, controls, measure);
  return measure;
}

std::expected<void, CleanError> remove_path_watched(const Path& path, const TopEntryGuard& guard,
                                                    const WalkControls& controls) {
  auto status = sys::stat_path(path, sys::FinalLink::Follow);
  if (status && S_ISDIR(status->st_mode)) return remove_tree_watched(path, guard, controls);
  auto top = open_top(path);
  if (!top) return std::unexpected(top.error());
  return unlink_top(*top, guard, path);
}

// A link found at the top is unlinked; anything else must open as a directory without following
// a link, and only then is the guard asked about that handle.
std::expected<void, CleanError> remove_tree_watched(const Path& path, const TopEntryGuard& guard,
                                                    const WalkControls& controls) {
  auto top = open_top(path);
  if (!top) return std::unexpected(top.error());
  struct stat status {};
  if (::fstatat(top->parent_fd(), top->name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
    return std::unexpected(CleanError::from_errno());
  }
  if (S_ISLNK(status.st_mode)) return unlink_top(*top, guard, path);
  auto directory = sys::open_directory_at(top->parent_fd(), top->name.c_str());
  if (!directory) return std::unexpected(CleanError::system(directory.error()));
  if (auto allowed = ask_about(guard, path, *directory); !allowed) return allowed;
  return remove_directory_at(top->parent_fd(), top->name.c_str(), std::move(*directory), controls);
}

std::expected<void, CleanError> empty_path_watched(const Path& path, const TopEntryGuard& guard,
                                                   const WalkControls& controls,
                                                   const EntryFailed& on_entry_failed,
                                                   std::set<std::string> left_whole) {
  auto directory = sys::open_directory(path);
  if (!directory) return std::unexpected(CleanError::system(directory.error()));
  if (auto allowed = ask_about(guard, path, *directory); !allowed) return allowed;
  return empty_directory(directory->get(), controls, on_entry_failed, std::move(left_whole));
}

}  // namespace sorvik_lib::cleaner
