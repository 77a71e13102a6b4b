// Measuring and removing one path given by name; the walks below it work through handles.
#include "sorvik_lib/cleaner/tree.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <string_view>

#include "directory_stream.hpp"
#include "tree_walk.hpp"
#include "watched_tree.hpp"

namespace sorvik_lib::cleaner {

using sys::SystemError;
using sys::UniqueFd;
using types::Path;

namespace {

// The system reads a path up to its first NUL byte, so a path holding one would name its own
// prefix. Such a path names nothing.
bool names_nothing(const Path& path) { return path.find('\0') != Path::npos; }

std::expected<struct stat, SystemError> status_of(const Path& path, int flags) {
  if (names_nothing(path)) return std::unexpected(SystemError(ENOENT));
  struct stat status {};
  if (::fstatat(AT_FDCWD, path.c_str(), &status, flags) != 0) {
    return std::unexpected(SystemError::from_errno());
  }
  return status;
}

// The top of a removal: the directory that holds the entry, opened by name once, and the entry's
// name in it. Everything after goes through that handle, so the entry that was looked at and
// checked is the entry that goes, even if a directory above it is swapped meanwhile.
struct TopEntry {
  UniqueFd parent;  // none for the root and for a bare relative name
  std::string name;

  [[nodiscard]] int parent_fd() const { return parent.valid() ? parent.get() : AT_FDCWD; }
};

std::expected<TopEntry, SystemError> open_top(const Path& path) {
  // A trailing separator would make the system resolve a final link, so it is dropped.
  Path entry = entry_path(path);
  if (names_nothing(entry)) return std::unexpected(SystemError(ENOENT));
  const auto separator = entry.rfind('/');
  if (separator == Path::npos || separator + 1 == entry.size()) return TopEntry{{}, entry};
  const Path parent = separator == 0 ? Path("/") : entry.substr(0, separator);
  int fd;
  do {
    fd = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return std::unexpected(SystemError::from_errno());
  return TopEntry{UniqueFd(fd), entry.substr(separator + 1)};
}

WatchedRemovalFailure widened(const WalkStop& stop) {
  if (const auto* error = std::get_if<SystemError>(&stop)) return *error;
  if (std::holds_alternative<ForbiddenDirectoryFound>(stop)) return ForbiddenDirectoryFound{};
  return WalkCancelled{};
}

std::expected<void, WatchedRemovalFailure> check_status(const TopEntryCheck& check,
                                                        const struct stat& status) {
  if (!check) return {};
  if (auto allowed = check(status); !allowed) {
    return std::unexpected(RemovalRefused{std::move(allowed.error())});
  }
  return {};
}

std::expected<void, WatchedRemovalFailure> unlink_top(const TopEntry& top,
                                                      const TopEntryCheck& check) {
  if (check) {
    struct stat status {};
    if (::fstatat(top.parent_fd(), top.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
      return std::unexpected(SystemError::from_errno());
    }
    if (auto allowed = check_status(check, status); !allowed) return allowed;
  }
  if (::unlinkat(top.parent_fd(), top.name.c_str(), 0) != 0) {
    return std::unexpected(SystemError::from_errno());
  }
  return {};
}

// A link found at the top is unlinked; anything else must open as a directory without following
// a link, and only then is the check asked about that handle. Below the top everything goes
// through handles.
std::expected<void, WatchedRemovalFailure> remove_tree_checked(const Path& path,
                                                               const TopEntryCheck& check,
                                                               const WalkControls& controls) {
  auto top = open_top(path);
  if (!top) return std::unexpected(top.error());
  struct stat status {};
  if (::fstatat(top->parent_fd(), top->name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
    return std::unexpected(SystemError::from_errno());
  }
  if (S_ISLNK(status.st_mode)) return unlink_top(*top, check);
  auto directory = open_directory_at(top->parent_fd(), top->name.c_str());
  if (!directory) return std::unexpected(directory.error());
  if (check) {
    if (::fstat(directory->get(), &status) != 0) return std::unexpected(SystemError::from_errno());
    if (auto allowed = check_status(check, status); !allowed) return allowed;
  }
  auto removed =
      remove_directory_at(top->parent_fd(), top->name.c_str(), std::move(*directory), controls);
  if (!removed) return std::unexpected(widened(removed.error()));
  return {};
}

// Only the system's own errors and a refusal of the check can stop a removal without controls.
RemovalFailure unwatched(WatchedRemovalFailure failure) {
  if (auto* refused = std::get_if<RemovalRefused>(&failure)) return std::move(*refused);
  if (auto* error = std::get_if<SystemError>(&failure)) return *error;
  return SystemError(ECANCELED);
}

}  // namespace

std::uint64_t tree_size(const Path& path) { return measure_path(path, {}).bytes; }

TreeMeasure measure_path(const Path& path, const WalkControls& controls) {
  if (names_nothing(path)) return {};
  int fd;
  do {
    // The start alone may be a link that leads to a directory, which is then entered. A FIFO
    // must not hold the open up waiting for a writer.
    fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0) return measure_directory(UniqueFd(fd), controls);
  TreeMeasure measure;
  auto status = status_of(path, AT_SYMLINK_NOFOLLOW);
  if (status && S_ISREG(status->st_mode)) count_regular_file(*status, controls, measure);
  return measure;
}

Path entry_path(const Path& path) {
  std::string_view entry = path;
  for (;;) {
    if (entry.size() > 1 && entry.ends_with('/')) {
      entry.remove_suffix(1);
    } else if (entry.size() > 2 && entry.ends_with("/.")) {
      entry.remove_suffix(2);
    } else {
      break;
    }
  }
  return Path(entry);
}

std::expected<void, WatchedRemovalFailure> remove_path_watched(const Path& path,
                                                               const TopEntryCheck& check,
                                                               const WalkControls& controls) {
  auto status = status_of(path, 0);
  if (status && S_ISDIR(status->st_mode)) return remove_tree_checked(path, check, controls);
  auto top = open_top(path);
  if (!top) return std::unexpected(top.error());
  return unlink_top(*top, check);
}

std::string message_of(const RemovalFailure& failure) {
  if (const auto* refused = std::get_if<RemovalRefused>(&failure)) return refused->message;
  return std::get<SystemError>(failure).message();
}

std::expected<void, SystemError> remove_path(const Path& path) {
  auto removed = remove_path(path, TopEntryCheck());
  if (!removed) return std::unexpected(std::get<SystemError>(removed.error()));
  return {};
}

std::expected<void, RemovalFailure> remove_path(const Path& path, const TopEntryCheck& check) {
  auto removed = remove_path_watched(path, check, {});
  if (!removed) return std::unexpected(unwatched(std::move(removed.error())));
  return {};
}

std::expected<void, SystemError> remove_tree(const Path& path) {
  auto removed = remove_tree_checked(path, TopEntryCheck(), {});
  if (!removed)
    return std::unexpected(std::get<SystemError>(unwatched(std::move(removed.error()))));
  return {};
}

}  // namespace sorvik_lib::cleaner
