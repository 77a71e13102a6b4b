// Measuring and removing one path given by name; the walks below it work through handles.
#include "sorvik_lib/cleaner/tree.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <string_view>

#include "directory_stream.hpp"
#include "tree_walk.hpp"

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
    fd = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return std::unexpected(SystemError::from_errno());
  return TopEntry{UniqueFd(fd), entry.substr(separator + 1)};
}

std::expected<void, RemovalFailure> check_status(const TopEntryCheck& check,
                                                 const struct stat& status) {
  if (!check) return {};
  if (auto allowed = check(status); !allowed) {
    return std::unexpected(RemovalRefused{std::move(allowed.error())});
  }
  return {};
}

std::expected<void, RemovalFailure> unlink_top(const TopEntry& top, const TopEntryCheck& check) {
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
std::expected<void, RemovalFailure> remove_tree_checked(const Path& path,
                                                        const TopEntryCheck& check) {
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
  if (auto emptied = empty_directory(std::move(*directory)); !emptied) {
    return std::unexpected(emptied.error());
  }
  if (::unlinkat(top->parent_fd(), top->name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
    return std::unexpected(SystemError::from_errno());
  }
  return {};
}

}  // namespace

std::uint64_t tree_size(const Path& path) {
  if (names_nothing(path)) return 0;
  int fd;
  do {
    // The start alone may be a link that leads to a directory, which is then entered.
    fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0) return measure_directory(UniqueFd(fd));
  auto status = status_of(path, AT_SYMLINK_NOFOLLOW);
  if (!status || !S_ISREG(status->st_mode)) return 0;
  return static_cast<std::uint64_t>(status->st_size);
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
  auto status = status_of(path, 0);
  if (status && S_ISDIR(status->st_mode)) return remove_tree_checked(path, check);
  auto top = open_top(path);
  if (!top) return std::unexpected(top.error());
  return unlink_top(*top, check);
}

std::expected<void, SystemError> remove_tree(const Path& path) {
  auto removed = remove_tree_checked(path, TopEntryCheck());
  if (!removed) return std::unexpected(std::get<SystemError>(removed.error()));
  return {};
}

}  // namespace sorvik_lib::cleaner
