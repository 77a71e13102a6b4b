// Open the parent once, check the top entry, hand the handle down; then measure what was reached
// and remove or empty it, or in a dry run record what the run would take. The checks made at the
// top are the ones that safety needs at the moment of cleaning, whatever screening saw before: the
// entry (and the directory opened for it) must still be what was screened, since a component above
// it may have been swapped for a link meanwhile; and no forbidden directory, nor "/", is walked.
#include "top_entry.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>
#include <string_view>

#include "sorvik_lib/sys/file_status.hpp"
#include "sorvik_lib/sys/path_calls.hpp"
#include "sorvik_lib/types/saturating.hpp"
#include "sorvik_lib/types/utf8.hpp"
#include "tree_walk.hpp"

namespace sorvik_lib::cleaner {

using sys::SystemError;
using types::Path;
using types::saturating_minus;

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

void credit(TreeOutcome& outcome, std::uint64_t bytes, std::uint64_t allocated) {
  outcome.bytes_freed = bytes;
  outcome.allocated_freed = allocated;
}

// A file, a link or anything else that is no directory to walk: it goes as itself.
void remove_entry_itself(const TopEntry& top, const WalkControls& walk, PreviewView* preview,
                         TreeOutcome& outcome) {
  if (S_ISREG(top.entry.st_mode)) count_regular_file(top.entry, walk, outcome.measured);
  if (preview != nullptr) {
    // A dry run records the name under the directory holding it.
    const auto parent = sys::status_at(top.parent, ".");
    if (parent) preview->record_removed_entry({parent->device, parent->inode}, top.name);
  } else if (::unlinkat(top.parent, top.name.c_str(), 0) != 0) {
    // Removed by someone else meanwhile, it is neither freed nor failed.
    outcome.absent = errno == ENOENT;
    if (!outcome.absent) outcome.error = CleanError::not_begun(SystemError::from_errno());
    return;
  }
  credit(outcome, outcome.measured.bytes, outcome.measured.allocated);
}

// The top's directory opened again by its name under the parent's handle, only if it is still
// the directory that was reached.
sys::UniqueFd reopen_directory(const TopEntry& top) {
  auto directory = sys::open_directory_at(
      top.parent, top.name.c_str(),
      S_ISLNK(top.entry.st_mode) ? sys::FinalLink::Follow : sys::FinalLink::NoFollow);
  const auto status =
      directory ? sys::status_of(directory->get()) : std::unexpected(directory.error());
  const FileIdentity reached{top.directory_status.device, top.directory_status.inode};
  if (!status || FileIdentity{status->device, status->inode} != reached) return {};
  return std::move(*directory);
}

// After a failure part-way: the measure before, less what is left of the directory the path led
// to, through its handle or opened again under the parent's and only if it is still that one,
// whatever the path's text leads to by now. Uncancellable, and without whatever forbidden directory
// was moved in meanwhile, which the first measure never counted. Out of reach, nothing is credited.
void credit_what_went(const TopEntry& top, const WalkControls& walk, TreeOutcome& outcome) {
  // An emptied directory is still held; a removed one's handle went with its walk.
  auto fresh = top.directory.valid() ? sys::open_directory_at(top.directory.get(), ".")
                                     : std::unexpected(SystemError(EBADF));
  sys::UniqueFd directory = fresh ? std::move(*fresh) : reopen_directory(top);
  if (!directory.valid()) return;
  WalkControls left_controls;
  left_controls.forbidden = walk.forbidden;
  left_controls.skip_forbidden = true;
  left_controls.kept_link = walk.kept_link;
  const TreeMeasure left =
      measure_directory(std::move(directory), top.directory_status, left_controls);
  credit(outcome, saturating_minus(outcome.measured.bytes, left.bytes),
         saturating_minus(outcome.measured.allocated, left.allocated));
}

TreeOutcome clean_path(const Path& path, TopUse use, const TreeOptions& options) {
  ParentCache parent;
  auto reached = reach_top(path, use, options, parent);
  if (reached && *reached) return clean_reached(path, std::move(**reached), use, options, nullptr);
  TreeOutcome outcome;
  outcome.absent = reached.has_value();
  if (!reached) outcome.error = reached.error();
  return outcome;
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

TreeOutcome clean_reached(const Path& path, TopEntry top, TopUse use, const TreeOptions& options,
                          PreviewView* preview) {
  TreeOutcome outcome;
  std::optional<TreeProgressReporter> reporter;
  if (options.on_progress) {
    reporter.emplace(options.on_progress, options.progress_interval,
                     TreeProgress{types::to_utf8_lossy(path)});
  }
  WalkControls walk(options);
  walk.progress = reporter ? &*reporter : nullptr;
  walk.preview = preview;
  if (use == TopUse::Empty && S_ISLNK(top.entry.st_mode)) {
    walk.kept_link = FileIdentity{top.entry.st_dev, top.entry.st_ino};
  }
  if (!top.directory.valid()) {
    remove_entry_itself(top, walk, preview, outcome);
    return outcome;
  }
  const sys::FileStatus status = top.directory_status;
  TreeMeasure& measure = outcome.measured;
  // The measure lists through a handle of its own, so that the removal's starts at the beginning.
  auto listing = sys::open_directory_at(top.directory.get(), ".");
  if (!listing) {
    outcome.error = CleanError::not_begun(listing.error());
    return outcome;
  }
  measure = measure_directory(std::move(*listing), status, walk);
  // Nothing has gone yet: a path holding a forbidden directory is refused whole.
  if (measure.stop) {
    outcome.error = measure.stop;
    return outcome;
  }
  std::set<std::string> stays;
  std::uint64_t bytes = measure.bytes;
  std::uint64_t allocated = measure.allocated;
  for (const EntryLeftWhole& entry : measure.left_whole) {
    stays.insert(entry.name);
    bytes = saturating_minus(bytes, entry.bytes);
    allocated = saturating_minus(allocated, entry.allocated);
    // Another filesystem's root is not the path's to empty: a removal is refused whole, and an
    // emptying leaves the entry holding it with that error.
    if (!entry.holds_mount) continue;
    const CleanError busy = CleanError::not_begun(SystemError(EBUSY));
    if (use == TopUse::Remove) {
      outcome.error = busy;
      return outcome;
    }
    outcome.entry_failures.push_back({entry.name, busy});
  }
  if (preview != nullptr) {
    const FileIdentity identity{status.device, status.inode};
    use == TopUse::Remove ? preview->record_removed_directory(identity)
                          : preview->record_emptied(identity, std::move(stays));
    credit(outcome, bytes, allocated);
    return outcome;
  }
  if (reporter) reporter->start_stage(TreeStage::Removing, measure.entries, measure.bytes);
  const std::size_t failed_before = outcome.entry_failures.size();
  if (use == TopUse::Remove) {
    auto removed =
        remove_directory_at(top.parent, top.name.c_str(), std::move(top.directory), status, walk);
    if (!removed) outcome.error = removed.error();
    outcome.absent = removed && *removed;
  } else {
    empty_directory(top.directory.get(), status, walk, stays, outcome);
  }
  if (!outcome.error && outcome.entry_failures.size() == failed_before) {
    credit(outcome, bytes, allocated);
  } else {
    credit_what_went(top, walk, outcome);
  }
  return outcome;
}

TreeMeasure measure_tree(const Path& path, const TreeOptions& options) {
  const WalkControls walk(options);
  // The start alone may be a link that leads to a directory, which is then entered.
  auto directory = sys::open_directory(path);
  const auto status =
      directory ? sys::status_of(directory->get()) : std::unexpected(directory.error());
  if (status) return measure_directory(std::move(*directory), *status, walk);
  TreeMeasure measure;
  if (directory) return measure;  // a directory whose status cannot be read counts nothing
  const auto file = sys::stat_path(path, sys::FinalLink::NoFollow);
  if (file && S_ISREG(file->st_mode)) count_regular_file(*file, walk, measure);
  return measure;
}

TreeOutcome remove_tree(const Path& path, const TreeOptions& options) {
  return clean_path(path, TopUse::Remove, options);
}

TreeOutcome empty_tree(const Path& path, const TreeOptions& options) {
  return clean_path(path, TopUse::Empty, options);
}

}  // namespace sorvik_lib::cleaner
