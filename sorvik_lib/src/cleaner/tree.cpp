// Measuring and removing one path given by name; the walks below it work through handles.
#include "sorvik_lib/cleaner/tree.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

std::expected<void, SystemError> unlink_path(const Path& path) {
  if (names_nothing(path)) return std::unexpected(SystemError(ENOENT));
  if (::unlink(path.c_str()) != 0) return std::unexpected(SystemError::from_errno());
  return {};
}

// The top of a tree goes by name, once: a link found there is unlinked, anything else must open
// as a directory without following a link, and only then is the check asked about that handle.
// Below the top everything goes through handles. A trailing separator would make lstat and even
// O_NOFOLLOW resolve a final link, so the name is taken without one.
std::expected<void, RemovalFailure> remove_tree_checked(const Path& given,
                                                        const TopDirectoryCheck& check) {
  const Path path = entry_path(given);
  auto status = status_of(path, AT_SYMLINK_NOFOLLOW);
  if (!status) return std::unexpected(status.error());
  if (S_ISLNK(status->st_mode)) {
    if (auto unlinked = unlink_path(path); !unlinked) return std::unexpected(unlinked.error());
    return {};
  }
  auto directory = open_directory_at(AT_FDCWD, path.c_str());
  if (!directory) return std::unexpected(directory.error());
  if (check) {
    if (auto allowed = check(directory->get()); !allowed) {
      return std::unexpected(RemovalRefused{std::move(allowed.error())});
    }
  }
  if (auto emptied = empty_directory(std::move(*directory)); !emptied) {
    return std::unexpected(emptied.error());
  }
  if (::unlinkat(AT_FDCWD, path.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
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
  auto removed = remove_path(path, TopDirectoryCheck());
  if (!removed) return std::unexpected(std::get<SystemError>(removed.error()));
  return {};
}

std::expected<void, RemovalFailure> remove_path(const Path& path, const TopDirectoryCheck& check) {
  auto status = status_of(path, 0);
  if (status && S_ISDIR(status->st_mode)) return remove_tree_checked(path, check);
  if (auto unlinked = unlink_path(entry_path(path)); !unlinked) {
    return std::unexpected(unlinked.error());
  }
  return {};
}

std::expected<void, SystemError> remove_tree(const Path& path) {
  auto removed = remove_tree_checked(path, TopDirectoryCheck());
  if (!removed) return std::unexpected(std::get<SystemError>(removed.error()));
  return {};
}

}  // namespace sorvik_lib::cleaner
