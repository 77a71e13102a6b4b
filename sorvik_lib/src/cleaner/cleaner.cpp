// The cleaning of a list of paths: each reached at its turn, measured, then removed or emptied,
// with progress events and one result.
#include "sorvik_lib/cleaner/cleaner.hpp"

#include <sys/stat.h>

#include <string>

#include "sorvik_lib/types/saturating.hpp"
#include "sorvik_lib/types/utf8.hpp"
#include "top_entry.hpp"

namespace sorvik_lib::cleaner {

using types::add_saturating;
using types::CleanResult;
using types::Path;

namespace {

Path join(const Path& root, const std::string& name) {
  if (name.empty()) return root;
  return root.ends_with('/') ? root + name : root + '/' + name;
}

class CleanRun {
 public:
  CleanRun(DryRun dry_run, const ProgressCallback& on_progress, const TreeOptions& options)
      : dry_run_(dry_run), on_progress_(on_progress), options_(options) {}

  CleanOutcome clean(std::span<const Path> paths, std::span<const PathRecord> records) && {
    emit(progress::Started{paths.size()});
    std::size_t index = 0;
    auto record = records.begin();
    for (; index < paths.size() && !cancelled_; ++index) {
      cancelled_ = options_.cancel != nullptr && options_.cancel->load(std::memory_order_relaxed);
      if (cancelled_) break;
      // Nothing was there to clean: a missing path, a dangling link or an unsearchable parent.
      if (record == records.end() || record->index != index) continue;
      clean_one(paths[index], *record++);
    }
    // The path at hand when the flag was seen has its own entry; the rest were never begun.
    for (; index < paths.size(); ++index) {
      result_.errors.push_back({paths[index], CleanError::cancelled().message(paths[index])});
    }
    emit(progress::Finished{result_.bytesFreed});
    return {std::move(result_), bytes_allocated_, cancelled_};
  }

 private:
  // The system calls a path costs, its record's one status call included: a file, 3 (the record;
  // the top's fstatat through the folder's handle, the check that it is still what was recorded;
  // its unlinkat), and the folder's openat and close when the path before was in another folder
  // or took more than a file. A folder holding one file, 15: the record; the folder's openat and
  // close; the top's fstatat; the directory's openat and statx, the check of what the walks go
  // through; the measure's own handle (openat, two getdents64, close) and the file's fstatat; the
  // removal's getdents64, the file's unlinkat and the directory's own, which a short listing lets
  // go without another getdents64; and the directory's close.
  void clean_one(const Path& path, const PathRecord& record) {
    TreeOptions options = options_;
    if (record.entry) options.expected = record.expected();
    options.linked_files = &linked_files_;
    const TopUse use = record.kept ? TopUse::Empty : TopUse::Remove;
    PreviewView* preview = dry_run_ == DryRun::Yes ? &preview_ : nullptr;
    // Gone by its turn, taken by an earlier path (in a dry run, one that would have taken it) or
    // by someone else: neither freed nor failed.
    if (preview != nullptr && options.expected && preview->reaches_gone(path)) return;
    // A path too long to look up may exist all the same, and is said to be out of reach.
    auto reached = options.expected ? reach_top(path, use, options, parents_)
                                    : std::unexpected(CleanError::not_begun(record.entry.error()));
    if (reached && !*reached) return;
    emit(progress::PathStarted{types::to_utf8_lossy(path), record.index});
    if (!reached) return fail(path, reached.error());
    const TreeOutcome outcome = clean_reached(path, std::move(**reached), use, options, preview);
    // Paths in one folder share its handle while they take regular files alone.
    if (record.kept || !S_ISREG(record.entry->mode)) parents_.fd.reset();
    if (outcome.absent) return;
    report(path, record, outcome);
  }

  void report(const Path& path, const PathRecord& record, const TreeOutcome& outcome) {
    // Entries inside a kept root fail without an event of their own.
    for (const EntryFailure& failure : outcome.entry_failures) {
      result_.errors.push_back({join(path, failure.name), failure.error.message(path)});
    }
    add_saturating(result_.bytesFreed, outcome.bytes_freed);
    add_saturating(bytes_allocated_, outcome.allocated_freed);
    if (outcome.error) return fail(path, *outcome.error);
    // A kept root where something stayed and nothing went is not listed.
    if (record.kept && !outcome.entry_failures.empty() && outcome.bytes_freed == 0) return;
    result_.removed.push_back(path);
    if (!record.kept || dry_run_ == DryRun::Yes || outcome.bytes_freed != 0) {
      emit(progress::PathCleaned{types::to_utf8_lossy(path), outcome.bytes_freed});
    }
  }

  void fail(const Path& path, const CleanError& error) {
    if (error.kind() == CleanError::Kind::Cancelled) cancelled_ = true;
    std::string message = error.message(path);
    emit(progress::PathFailed{types::to_utf8_lossy(path), message});
    result_.errors.push_back({path, std::move(message)});
  }

  void emit(CleanProgress event) const {
    if (on_progress_) on_progress_(std::move(event));
  }

  const DryRun dry_run_;
  const ProgressCallback& on_progress_;
  const TreeOptions& options_;
  CleanResult result_;
  std::uint64_t bytes_allocated_ = 0;
  bool cancelled_ = false;
  IdentitySet linked_files_;  // files of several links whose blocks were counted
  PreviewView preview_;       // what a dry run has taken so far
  ParentCache parents_;       // the folder of the path before
};

}  // namespace

CleanResult Cleaner::clean(std::span<const Path> paths, DryRun dry_run,
                           const PathSet& preserve_root_paths,
                           const ProgressCallback& on_progress) {
  return run(paths, record_paths(paths, preserve_root_paths), dry_run, on_progress, TreeOptions{})
      .result;
}

CleanOutcome Cleaner::run(std::span<const Path> paths, std::span<const PathRecord> records,
                          DryRun dry_run, const ProgressCallback& on_progress,
                          const TreeOptions& options) {
  return CleanRun(dry_run, on_progress, options).clean(paths, records);
}

}  // namespace sorvik_lib::cleaner
