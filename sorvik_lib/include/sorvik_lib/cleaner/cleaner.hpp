// The filesystem cleaner: removes paths, empties kept roots, measures the bytes freed and reports
// progress. It screens nothing: every path is acted on as given.
#pragma once

#include <sys/stat.h>

#include <expected>
#include <functional>
#include <span>
#include <string>

#include "sorvik_lib/cleaner/clean_progress.hpp"
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
};

}  // namespace sorvik_lib::cleaner
