// Open the parent once, check the top entry, hand the handle down. The checks made here are the
// ones that safety needs at the moment of cleaning, whatever screening saw before: the entry (and
// the directory opened for it) must still be what was screened, since a component above it may
// have been swapped for a link meanwhile; and no forbidden directory, nor "/", is ever walked.
#include "top_entry.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <string_view>

#include "sorvik_lib/sys/path_calls.hpp"

namespace sorvik_lib::cleaner {

using sys::SystemError;
using types::Path;

namespace {

using Reached = std::expected<std::optional<TopEntry>, CleanError>;

// A lookup that finds nothing there, a component that is no directory, or a loop of links: the
// path names nothing now. Anything else is a failure before anything went.
Reached nothing_or_failure(const SystemError& error) {
  const int number = error.number();
  if (number == ENOENT || number == ENOTDIR || number == ELOOP) return std::nullopt;
  return std::unexpected(CleanError::not_begun(error));
}

// One of the caller's forbidden directories, or "/" (read once), which no operation takes whoever
// asks.
bool is_forbidden(const FileIdentity& identity, const TreeOptions& options) {
  static const auto kRoot = sys::stat_path("/", sys::FinalLink::Follow);
  return (options.forbidden != nullptr && options.forbidden->contains(identity)) ||
         (kRoot && identity == FileIdentity{kRoot->st_dev, kRoot->st_ino});
}

// The directory the top leads to, opened through the parent's handle and checked.
Reached open_directory_of(TopEntry top, const TreeOptions& options) {
  const bool link = S_ISLNK(top.entry.st_mode);
  auto directory = sys::open_directory_at(top.parent, top.name.c_str(),
                                          link ? sys::FinalLink::Follow : sys::FinalLink::NoFollow);
  if (!directory) {
    const int number = directory.error().number();
    // A directory looked at a moment ago that no longer opens as one was swapped meanwhile.
    if (!link && (number == ENOTDIR || number == ELOOP)) {
      return std::unexpected(CleanError::changed());
    }
    if (link && number == ENOTDIR)
      return std::unexpected(CleanError::not_begun(SystemError(ENOTDIR)));
    return nothing_or_failure(directory.error());
  }
  const auto status = sys::status_of(directory->get());
  if (!status) return std::unexpected(CleanError::not_begun(status.error()));
  const FileIdentity identity{status->device, status->inode};
  const FileIdentity expected = link ? (options.expected ? options.expected->led_to : identity)
                                     : FileIdentity{top.entry.st_dev, top.entry.st_ino};
  if (is_forbidden(identity, options)) return std::unexpected(CleanError::forbidden());
  if (identity != expected) return std::unexpected(CleanError::changed());
  top.directory = std::move(*directory);
  top.directory_status = *status;
  return top;
}

}  // namespace

// System calls, for a file: the parent's open and its close (none when it is shared with the path
// before), and the entry's fstatat, the check of what was screened. For a directory, two more: its
// open through the parent and its status, the check of what the walks will go through.
Reached reach_top(const Path& path, TopUse use, const TreeOptions& options, ParentCache& parents) {
  // A trailing separator would make the system resolve a final link, so it is dropped.
  const Path entry = entry_path(path);
  if (sys::names_nothing(entry)) return std::nullopt;
  TopEntry top;
  const auto separator = entry.rfind('/');
  if (separator == Path::npos || separator + 1 == entry.size()) {
    top.name = entry;
  } else {
    Path parent_text = separator == 0 ? Path("/") : entry.substr(0, separator);
    if (!parents.fd.valid() || parents.text != parent_text) {
      auto parent = sys::open_directory(parent_text);
      if (!parent) return nothing_or_failure(parent.error());
      parents = {std::move(parent_text), std::move(*parent)};
    }
    top.parent = parents.fd.get();
    top.name = entry.substr(separator + 1);
  }
  if (::fstatat(top.parent, top.name.c_str(), &top.entry, AT_SYMLINK_NOFOLLOW) != 0) {
    return nothing_or_failure(SystemError::from_errno());
  }
  const FileIdentity entry_identity{top.entry.st_dev, top.entry.st_ino};
  const bool directory = S_ISDIR(top.entry.st_mode);
  const bool link = S_ISLNK(top.entry.st_mode);
  if (directory && is_forbidden(entry_identity, options))
    return std::unexpected(CleanError::forbidden());
  if (options.expected && options.expected->entry != entry_identity)
    return std::unexpected(CleanError::changed());
  if (directory || (link && use == TopUse::Empty))
    return open_directory_of(std::move(top), options);
  if (use == TopUse::Empty) return std::unexpected(CleanError::not_begun(SystemError(ENOTDIR)));
  // A screened link that has come to lead nowhere by its turn is nothing to clean, as one that led
  // nowhere when it was screened.
  struct stat led_to {};
  if (link && options.expected && ::fstatat(top.parent, top.name.c_str(), &led_to, 0) != 0) {
    return std::nullopt;
  }
  return top;
}

sys::UniqueFd reopen_directory(const TopEntry& top) {
  auto directory = sys::open_directory_at(
      top.parent, top.name.c_str(),
      S_ISLNK(top.entry.st_mode) ? sys::FinalLink::Follow : sys::FinalLink::NoFollow);
  const auto status =
      directory ? sys::status_of(directory->get()) : std::unexpected(directory.error());
  if (!status || status->device != top.directory_status.device ||
      status->inode != top.directory_status.inode) {
    return {};
  }
  return std::move(*directory);
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

}  // namespace sorvik_lib::cleaner
