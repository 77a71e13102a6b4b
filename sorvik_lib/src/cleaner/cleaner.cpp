// The cleaning of a list of paths: existence, measure, then removal or emptying, with progress
// events and one result.
#include "sorvik_lib/cleaner/cleaner.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <optional>
#include <set>
#include <string>

#include "directory_stream.hpp"
#include "preview_ledger.hpp"
#include "sorvik_lib/cleaner/kept_roots.hpp"
#include "sorvik_lib/cleaner/tree.hpp"
#include "sorvik_lib/types/utf8.hpp"
#include "tree_walk.hpp"
#include "watched_tree.hpp"

namespace sorvik_lib::cleaner {

using sys::SystemError;
using sys::UniqueFd;
using types::CleanResult;
using types::Path;

namespace {

constexpr const char* kCancelled = "Cancelled";

// Status through links, or through none; a path holding a NUL byte names nothing.
bool query_status(const Path& path, int flags, struct stat& status) {
  return path.find('\0') == Path::npos && ::fstatat(AT_FDCWD, path.c_str(), &status, flags) == 0;
}

std::uint64_t saturating_minus(std::uint64_t from, std::uint64_t amount) {
  return from > amount ? from - amount : 0;
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
    for (; index < paths.size(); ++index) result_.errors.push_back({paths[index], kCancelled});
    emit(progress::Finished{result_.bytesFreed});
  }

  CleanOutcome take_outcome() { return {std::move(result_), bytes_allocated_, cancelled_}; }

 private:
  void clean_one(const Path& path, std::uint64_t index, bool dry_run) {
    struct stat status {};
    // A missing path, a dangling link or an unsearchable parent: nothing to do and nothing to say.
    if (!query_status(path, 0, status)) return;
    // What the path itself names, a link as the link.
    struct stat entry {};
    const bool entry_read = query_status(entry_path(path), AT_SYMLINK_NOFOLLOW, entry);
    const bool kept = kept_roots_.contains(path, entry_read ? &entry : nullptr);
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
    const bool is_link = entry_read && S_ISLNK(entry.st_mode);
    const TreeMeasure measure = is_link && !kept ? TreeMeasure{} : measure_path(path, walk);
    // Nothing has gone yet: a path holding a forbidden directory is refused whole.
    if (measure.stop) return stop(path, *measure.stop);
    if (dry_run) return preview(path, place, kept, measure);
    if (reporter) reporter->start_stage(TreeStage::Removing, measure.entries, measure.bytes);
    if (kept) return empty_kept_root(path, measure, walk);
    TopEntryCheck check;
    if (controls_.guard) check = [&](const struct stat& top) { return controls_.guard(path, top); };
    auto removed = remove_path_watched(path, check, walk);
    if (removed) return credit(path, measure.bytes, measure.allocated);
    auto& failure = removed.error();
    // Gone since it was found: someone else removed it, so it is neither freed nor failed.
    if (const auto* error = std::get_if<SystemError>(&failure);
        error != nullptr && error->number() == ENOENT &&
        !query_status(path, AT_SYMLINK_NOFOLLOW, status)) {
      return;
    }
    // A refusal of the check comes before anything goes; any other stop may come part-way.
    if (auto* refused = std::get_if<RemovalRefused>(&failure)) {
      return fail(path, std::move(refused->message));
    }
    credit_what_went(path, measure);
    if (auto* error = std::get_if<SystemError>(&failure)) return fail(path, error->message());
    if (std::holds_alternative<ForbiddenDirectoryFound>(failure)) {
      return stop(path, ForbiddenDirectoryFound{});
    }
    stop(path, WalkCancelled{});
  }

  bool cancel_requested() const {
    return controls_.cancel != nullptr && controls_.cancel->load(std::memory_order_relaxed);
  }

  // The path refused, or cancelled, with the stop's message.
  void stop(const Path& path, const WalkStop& why) {
    if (std::holds_alternative<ForbiddenDirectoryFound>(why)) {
      return fail(path, "Path is forbidden: " + path);
    }
    if (std::holds_alternative<WalkCancelled>(why)) {
      cancelled_ = true;
      return fail(path, kCancelled);
    }
    fail(path, std::get<SystemError>(why).message());
  }

  // A removal that stopped part-way credits what went: the measure before less what is left.
  void credit_what_went(const Path& path, const TreeMeasure& before) {
    if (before.bytes == 0 && before.allocated == 0) return;
    const TreeMeasure after = measure_left(path);
    result_.bytesFreed += saturating_minus(before.bytes, after.bytes);
    bytes_allocated_ += saturating_minus(before.allocated, after.allocated);
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
    credit(path, share.bytes, share.allocated);
  }

  void empty_kept_root(const Path& root, const TreeMeasure& measure, const WalkControls& walk) {
    auto stream = open_listing(root);
    if (!stream) {
      if (stream.error().number() == ENOENT) return;  // gone since it was found
      return fail(root, stream.error().message());
    }
    if (controls_.guard) {
      struct stat opened {};
      if (::fstat(stream->fd(), &opened) != 0) {
        return fail(root, SystemError::from_errno().message());
      }
      if (auto allowed = controls_.guard(root, opened); !allowed)
        return fail(root, allowed.error());
    }
    const KeptRootPasses passes = empty_listed(root, std::move(*stream), walk);
    if (passes.stop) {
      credit_what_went(root, measure);
      return stop(root, *passes.stop);
    }
    std::uint64_t size = measure.bytes;
    std::uint64_t allocated = measure.allocated;
    if (passes.any_failed) {
      const TreeMeasure remaining = measure_left(root);
      size = saturating_minus(size, remaining.bytes);
      allocated = saturating_minus(allocated, remaining.allocated);
      if (size == 0) return;
    }
    result_.removed.push_back(root);
    result_.bytesFreed += size;
    bytes_allocated_ += allocated;
    if (size != 0) emit(progress::PathCleaned{types::to_utf8_lossy(root), size});
  }

  struct KeptRootPasses {
    bool any_failed = false;
    std::optional<WalkStop> stop;  // a forbidden directory or the cancel flag
  };

  // Removes every entry of a kept root, listing it again while a pass removes something: some
  // filesystems reorder a directory while it is emptied, and one listing misses entries. An entry
  // that failed is not tried again.
  KeptRootPasses empty_listed(const Path& root, DirectoryStream stream, const WalkControls& walk) {
    KeptRootPasses outcome;
    std::set<std::string> failed;
    for (;;) {
      std::uint64_t removed = 0;
      for (;;) {
        auto entry = stream.next();
        if (!entry) {
          // A listing that cannot be read further leaves entries behind: that is a failure.
          result_.errors.push_back({root, entry.error().message()});
          outcome.any_failed = true;
          return outcome;
        }
        if (!*entry) break;
        if (failed.contains((*entry)->name)) continue;
        if (walk.cancelled()) {
          outcome.stop = WalkCancelled{};
          return outcome;
        }
        auto gone = remove_entry_at(stream.fd(), (*entry)->name, (*entry)->type, walk);
        if (gone) {
          removed += *gone;
          continue;
        }
        if (!std::holds_alternative<SystemError>(gone.error())) {
          outcome.stop = gone.error();
          return outcome;
        }
        result_.errors.push_back(
            {join(root, (*entry)->name), std::get<SystemError>(gone.error()).message()});
        failed.insert((*entry)->name);
        outcome.any_failed = true;
      }
      if (removed == 0) return outcome;
      auto again = open_directory_at(stream.fd(), ".");
      if (!again) return outcome;
      auto relisted = DirectoryStream::open(std::move(*again));
      if (!relisted) return outcome;
      stream = std::move(*relisted);
    }
  }

  // Lists a kept root, following a link at the root itself.
  static std::expected<DirectoryStream, SystemError> open_listing(const Path& root) {
    if (root.find('\0') != Path::npos) return std::unexpected(SystemError(ENOENT));
    int fd;
    do {
      fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return std::unexpected(SystemError::from_errno());
    return DirectoryStream::open(UniqueFd(fd));
  }

  static Path join(const Path& root, const char* name) {
    Path path = root;
    if (!path.ends_with('/')) path += '/';
    path += name;
    return path;
  }

  void credit(const Path& path, std::uint64_t size, std::uint64_t allocated) {
    result_.removed.push_back(path);
    result_.bytesFreed += size;
    bytes_allocated_ += allocated;
    emit(progress::PathCleaned{types::to_utf8_lossy(path), size});
  }

  void fail(const Path& path, std::string message) {
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
