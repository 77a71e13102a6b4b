// The cleaning of a list of paths: existence, measure, then removal or emptying, with progress
// events and one result.
#include "sorvik_lib/cleaner/cleaner.hpp"

#include <sys/stat.h>

#include <optional>
#include <set>
#include <string>

#include "preview_ledger.hpp"
#include "progress_reporter.hpp"
#include "sorvik_lib/cleaner/clean_error.hpp"
#include "sorvik_lib/cleaner/kept_roots.hpp"
#include "sorvik_lib/cleaner/tree.hpp"
#include "sorvik_lib/sys/path_calls.hpp"
#include "sorvik_lib/types/saturating.hpp"
#include "sorvik_lib/types/utf8.hpp"
#include "walk_controls.hpp"
#include "watched_tree.hpp"

namespace sorvik_lib::cleaner {

using sys::FinalLink;
using types::add_saturating;
using types::CleanResult;
using types::Path;
using types::saturating_minus;

namespace {

// The root of another mounted filesystem met inside a path: the system's own word for it.
const CleanError kMounted = CleanError::system(sys::SystemError(EBUSY));

Path join(const Path& root, const char* name) {
  Path path = root;
  if (!path.ends_with('/')) path += '/';
  path += name;
  return path;
}

class CleanRun {
 public:
  CleanRun(const PathSet& preserve_root_paths, const ProgressCallback& on_progress,
           const CleanControls& controls)
      : kept_roots_(preserve_root_paths), on_progress_(on_progress), controls_(controls) {}

  void clean(std::span<const Path> paths, bool dry_run) {
    emit(progress::Started{paths.size()});
    std::size_t index = 0;
    for (; index < paths.size() && !cancelled_; ++index) {
      if (cancel_requested()) {
        cancelled_ = true;
        break;
      }
      clean_one(paths[index], index, dry_run);
    }
    // The path at hand when the flag was seen has its own entry; the rest were never begun.
    for (; index < paths.size(); ++index) {
      result_.errors.push_back({paths[index], CleanError::cancelled().message(paths[index])});
    }
    emit(progress::Finished{result_.bytesFreed});
  }

  CleanOutcome take_outcome() { return {std::move(result_), bytes_allocated_, cancelled_}; }

 private:
  void clean_one(const Path& path, std::uint64_t index, bool dry_run) {
    // A missing path, a dangling link or an unsearchable parent: nothing to do and nothing to say.
    // A path too long to look up may exist all the same, and is said to be out of reach.
    if (const auto found = sys::stat_path(path, FinalLink::Follow); !found) {
      if (found.error().number() == ENAMETOOLONG) {
        emit(progress::PathStarted{types::to_utf8_lossy(path), index});
        fail(path, CleanError::system(found.error()));
      }
      return;
    }
    // What the path itself names, a link as the link.
    const auto entry = sys::stat_path(entry_path(path), FinalLink::NoFollow);
    const bool kept = kept_roots_.contains(path, entry ? &*entry : nullptr);
    std::optional<PathPlace> place;
    if (dry_run) {
      // What an earlier path takes would be gone by this one's turn in the real run.
      place = PreviewLedger::place_of(path);
      if (place && ledger_.is_gone(path, *place)) return;
    }
    emit(progress::PathStarted{types::to_utf8_lossy(path), index});
    std::optional<TreeProgressReporter> reporter;
    if (controls_.on_tree_progress) {
      reporter.emplace(controls_.on_tree_progress, controls_.tree_progress_interval,
                       TreeProgress{types::to_utf8_lossy(path)});
    }
    const WalkControls walk{controls_.forbidden_directories, controls_.cancel, &linked_files_,
                            reporter ? &*reporter : nullptr};
    // Removing a link frees only the link, so its target's bytes are never credited; a kept root
    // that is a link is emptied through it and credits what goes.
    const bool is_link = entry && S_ISLNK(entry->st_mode);
    const TreeMeasure measure = is_link && !kept ? TreeMeasure{} : measure_path(path, walk);
    // Nothing has gone yet: a path holding a forbidden directory is refused whole, and so is one
    // holding another mounted filesystem, which is not the path's to empty.
    if (measure.stop) return fail(path, *measure.stop);
    if (!kept && !measure.holding_mounts.empty()) return fail(path, kMounted);
    // Inside a kept root, an entry holding one is left whole, and the rest goes.
    if (kept) fail_entries_holding_mounts(path, measure);
    if (dry_run) return preview(path, place, kept, measure);
    if (reporter) reporter->start_stage(TreeStage::Removing, measure.entries, measure.bytes);
    if (kept) return empty_kept_root(path, measure, walk);
    auto removed = remove_path_watched(path, controls_.guard, walk);
    if (removed) return credit(path, measure.bytes, measure.allocated);
    // Gone since it was found: someone else removed it, so it is neither freed nor failed.
    if (removed.error().number() == ENOENT && !sys::stat_path(path, FinalLink::NoFollow)) return;
    // A refusal of the guard comes before anything goes; any other failure may come part-way.
    if (removed.error().kind() != CleanError::Kind::Refused) credit_what_went(path, measure);
    fail(path, removed.error());
  }

  bool cancel_requested() const {
    return controls_.cancel != nullptr && controls_.cancel->load(std::memory_order_relaxed);
  }

  void fail_entries_holding_mounts(const Path& root, const TreeMeasure& measure) {
    for (const EntryHoldingMount& entry : measure.holding_mounts) {
      result_.errors.push_back({join(root, entry.name.c_str()), kMounted.message(root)});
    }
  }

  void empty_kept_root(const Path& root, const TreeMeasure& measure, const WalkControls& walk) {
    bool any_failed = !measure.holding_mounts.empty();
    std::set<std::string> left_whole;
    for (const EntryHoldingMount& entry : measure.holding_mounts) left_whole.insert(entry.name);
    // Entries inside a kept root fail without an event of their own.
    const EntryFailed on_entry_failed = [&](const char* name, const CleanError& error) {
      result_.errors.push_back({name != nullptr ? join(root, name) : root, error.message(root)});
      any_failed = true;
    };
    auto emptied =
        empty_path_watched(root, controls_.guard, walk, on_entry_failed, std::move(left_whole));
    if (!emptied) {
      const CleanError& error = emptied.error();
      if (error.number() == ENOENT) return;  // gone since it was found
      // The directory could not be opened, or was refused, before anything went.
      const bool before_anything =
          error.kind() == CleanError::Kind::System || error.kind() == CleanError::Kind::Refused;
      if (!before_anything) credit_what_went(root, measure);
      return fail(root, error);
    }
    std::uint64_t size = measure.bytes;
    std::uint64_t allocated = measure.allocated;
    if (any_failed) {
      const TreeMeasure remaining = measure_left(root);
      size = saturating_minus(size, remaining.bytes);
      allocated = saturating_minus(allocated, remaining.allocated);
      if (size == 0) return;
    }
    result_.removed.push_back(root);
    add_saturating(result_.bytesFreed, size);
    add_saturating(bytes_allocated_, allocated);
    if (size != 0) emit(progress::PathCleaned{types::to_utf8_lossy(root), size});
  }

  // A removal that stopped part-way credits what went: the measure before less what is left.
  void credit_what_went(const Path& path, const TreeMeasure& before) {
    if (before.bytes == 0 && before.allocated == 0) return;
    const TreeMeasure after = measure_left(path);
    add_saturating(result_.bytesFreed, saturating_minus(before.bytes, after.bytes));
    add_saturating(bytes_allocated_, saturating_minus(before.allocated, after.allocated));
  }

  // What is left of a path after a removal that stopped: uncancellable, and without whatever
  // forbidden directory was moved in meanwhile, which the first measure never counted.
  TreeMeasure measure_left(const Path& path) {
    WalkControls controls;
    controls.forbidden = controls_.forbidden_directories;
    controls.skip_forbidden = true;
    return measure_path(path, controls);
  }

  void preview(const Path& path, const std::optional<PathPlace>& place, bool kept,
               const TreeMeasure& measure) {
    PreviewCredit share{measure.bytes, measure.allocated};
    // What an emptying leaves whole stays.
    for (const EntryHoldingMount& entry : measure.holding_mounts) {
      share = {saturating_minus(share.bytes, entry.bytes),
               saturating_minus(share.allocated, entry.allocated)};
    }
    if (place) {
      if (ledger_.was_emptied(*place)) {
        share = {};
      } else {
        const PreviewCredit inside = ledger_.credited_inside(*place);
        share = {saturating_minus(share.bytes, inside.bytes),
                 saturating_minus(share.allocated, inside.allocated)};
      }
      if (kept) {
        ledger_.record_emptied(*place, share);
      } else {
        ledger_.record_removed(path, *place, share);
      }
    }
    // As in the run, a kept root where something stayed and nothing would go is not listed.
    if (kept && !measure.holding_mounts.empty() && share.bytes == 0) return;
    credit(path, share.bytes, share.allocated);
  }

  void credit(const Path& path, std::uint64_t size, std::uint64_t allocated) {
    result_.removed.push_back(path);
    add_saturating(result_.bytesFreed, size);
    add_saturating(bytes_allocated_, allocated);
    emit(progress::PathCleaned{types::to_utf8_lossy(path), size});
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

  const KeptRoots kept_roots_;
  const ProgressCallback& on_progress_;
  const CleanControls& controls_;
  CleanResult result_;
  std::uint64_t bytes_allocated_ = 0;
  bool cancelled_ = false;
  IdentitySet linked_files_;  // files of several links whose blocks were counted
  PreviewLedger ledger_;
};

}  // namespace

CleanResult Cleaner::clean(std::span<const Path> paths, bool dry_run,
                           const PathSet& preserve_root_paths,
                           const ProgressCallback& on_progress) {
  return clean(paths, dry_run, preserve_root_paths, on_progress, TopEntryGuard());
}

CleanResult Cleaner::clean(std::span<const Path> paths, bool dry_run,
                           const PathSet& preserve_root_paths, const ProgressCallback& on_progress,
                           const TopEntryGuard& guard) {
  CleanControls controls;
  controls.guard = guard;
  return run(paths, dry_run, preserve_root_paths, on_progress, controls).result;
}

CleanOutcome Cleaner::run(std::span<const Path> paths, bool dry_run,
                          const PathSet& preserve_root_paths, const ProgressCallback& on_progress,
                          const CleanControls& controls) {
  CleanRun run(preserve_root_paths, on_progress, controls);
  run.clean(paths, dry_run);
  return run.take_outcome();
}

}  // namespace sorvik_lib::cleaner
