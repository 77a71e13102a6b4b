// The filesystem cleaner: removes paths, empties kept roots, measures the bytes freed and reports
// progress. It screens nothing: every path is acted on as given.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <cstdint>
#include <expected>
#include <functional>
#include <span>
#include <string>

#include "sorvik_lib/cleaner/clean_progress.hpp"
#include "sorvik_lib/cleaner/file_identity.hpp"
#include "sorvik_lib/cleaner/path_set.hpp"
#include "sorvik_lib/types/records.hpp"

namespace sorvik_lib::cleaner {

// Asked about what the cleaner is about to clean at the top of an input path, before anything
// goes: the status of the directory it has opened there (fstat of the handle: a kept root about to
// be emptied, or the top of a tree about to be removed), or of the file or link it is about to
// unlink there (lstat through the handle of the directory holding it). Whatever the path names by
// now, that is what would be cleaned. An error is the message of a refusal; the path then fails
// with it and nothing of it is touched.
using TopEntryGuard = std::function<std::expected<void, std::string>(const types::Path& path,
                                                                     const struct stat& status)>;

// What a caller may add to the four inputs of a clean.
struct CleanControls {
  // Asked about the top of every path before it is emptied or removed.
  TopEntryGuard guard;
  // Directories no walk may enter. The measure (it runs before anything of a path goes) refuses
  // the whole path with "Path is forbidden: {path}" when it meets one anywhere below the top;
  // removing and emptying check every directory again before entering it.
  const IdentitySet* forbidden_directories = nullptr;
  // Told how far the walk inside the path at hand has come, at most once per interval.
  TreeProgressCallback on_tree_progress;
  std::chrono::milliseconds tree_progress_interval = kTreeProgressInterval;
  // Once set (from any thread, or a signal handler), the cleaner stops at the next entry: the
  // path at hand and every path after it fail with "Cancelled", and what went of the path at hand
  // is credited.
  const std::atomic<bool>* cancel = nullptr;
};

// A clean's result with what the written result has no room for.
struct CleanOutcome {
  types::CleanResult result;
  // The disk space behind bytesFreed: allocated blocks of the same files, a file with several
  // hard links once in the whole clean.
  std::uint64_t bytes_allocated = 0;
  // The cancel flag stopped the clean before its end.
  bool cancelled = false;
};

class Cleaner {
 public:
  // Cleans `paths` in order. A path that does not exist is skipped silently; a path in
  // `preserve_root_paths` is emptied and stays; anything else is removed whole. With `dry_run`
  // nothing is deleted and every existing path is listed with its measure. Never fails as a whole:
  // each failure is an entry of the result's errors.
  [[nodiscard]] static types::CleanResult clean(std::span<const types::Path> paths, bool dry_run,
                                                const PathSet& preserve_root_paths,
                                                const ProgressCallback& on_progress);

  // The same, with `guard` asked about the top of every path before it is emptied or removed.
  [[nodiscard]] static types::CleanResult clean(std::span<const types::Path> paths, bool dry_run,
                                                const PathSet& preserve_root_paths,
                                                const ProgressCallback& on_progress,
                                                const TopEntryGuard& guard);

  // The same with every control. A dry run here previews the real run: a path that an earlier
  // one removes, or empties as a kept root, is skipped, or listed with 0 bytes, just as the real
  // run would find it; an ancestor of an earlier path counts only what is left of it.
  [[nodiscard]] static CleanOutcome run(std::span<const types::Path> paths, bool dry_run,
                                        const PathSet& preserve_root_paths,
                                        const ProgressCallback& on_progress,
                                        const CleanControls& controls);
};

}  // namespace sorvik_lib::cleaner
