// Measure, then remove or empty, one reached path; or, in a dry run, measure and record. And the
// tree operations built on it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>

#include "sorvik_lib/sys/file_status.hpp"
#include "sorvik_lib/sys/path_calls.hpp"
#include "sorvik_lib/types/saturating.hpp"
#include "sorvik_lib/types/utf8.hpp"
#include "top_entry.hpp"
#include "tree_walk.hpp"

namespace sorvik_lib::cleaner {

using sys::SystemError;
using types::Path;
using types::saturating_minus;

namespace {

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
    if (errno == ENOENT) outcome.absent = true;
    if (errno != ENOENT) outcome.error = CleanError::not_begun(SystemError::from_errno());
    return;
  }
  credit(outcome, outcome.measured.bytes, outcome.measured.allocated);
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
  const auto file = sys::stat_path(path, sys::FinalLink::NoFollow);
  if (!directory && file && S_ISREG(file->st_mode)) count_regular_file(*file, walk, measure);
  return measure;
}

TreeOutcome remove_tree(const Path& path, const TreeOptions& options) {
  return clean_path(path, TopUse::Remove, options);
}

TreeOutcome empty_tree(const Path& path, const TreeOptions& options) {
  return clean_path(path, TopUse::Empty, options);
}

}  // namespace sorvik_lib::cleaner
