// The filesystem cleaner: removes paths, empties kept roots, measures the bytes freed and reports
// progress. It screens nothing: every path is acted on as given.
#pragma once

#include <expected>
#include <functional>
#include <span>
#include <string>

#include "sorvik_lib/cleaner/clean_progress.hpp"
#include "sorvik_lib/cleaner/path_set.hpp"
#include "sorvik_lib/types/records.hpp"

namespace sorvik_lib::cleaner {

// Asked about the directory the cleaner has opened at the top of an input path (a kept root
// about to be emptied, or the top of a tree about to be removed) before anything inside it is
// touched. `directory_fd` is that handle: whatever the path names by now, the handle is what
// would be cleaned. An error is the message of a refusal; the path then fails with it and nothing
// below it is touched. A link or a file removed as such is never shown to the guard.
using TopDirectoryGuard =
    std::function<std::expected<void, std::string>(const types::Path& path, int directory_fd)>;

class Cleaner {
 public:
  // Cleans `paths` in order. A path that does not exist is skipped silently; a path in
  // `preserve_root_paths` is emptied and stays; anything else is removed whole. With `dry_run`
  // nothing is deleted and every existing path is listed with its measure. Never fails as a whole:
  // each failure is an entry of the result's errors.
  [[nodiscard]] static types::CleanResult clean(std::span<const types::Path> paths, bool dry_run,
                                                const PathSet& preserve_root_paths,
                                                const ProgressCallback& on_progress);

  // The same, with `guard` asked about every top directory before it is emptied or removed.
  [[nodiscard]] static types::CleanResult clean(std::span<const types::Path> paths, bool dry_run,
                                                const PathSet& preserve_root_paths,
                                                const ProgressCallback& on_progress,
                                                const TopDirectoryGuard& guard);
};

}  // namespace sorvik_lib::cleaner
