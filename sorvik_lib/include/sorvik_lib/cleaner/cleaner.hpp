// The filesystem cleaner: removes paths, empties kept roots, measures the bytes freed and reports
// progress. It screens nothing: every path is acted on as given.
#pragma once

#include <span>

#include "sorvik_lib/cleaner/clean_progress.hpp"
#include "sorvik_lib/cleaner/path_set.hpp"
#include "sorvik_lib/types/records.hpp"

namespace sorvik_lib::cleaner {

class Cleaner {
 public:
  // Cleans `paths` in order. A path that does not exist is skipped silently; a path in
  // `preserve_root_paths` is emptied and stays; anything else is removed whole. With `dry_run`
  // nothing is deleted and every existing path is listed with its measure. Never fails as a whole:
  // each failure is an entry of the result's errors.
  [[nodiscard]] static types::CleanResult clean(std::span<const types::Path> paths, bool dry_run,
                                                const PathSet& preserve_root_paths,
                                                const ProgressCallback& on_progress);
};

}  // namespace sorvik_lib::cleaner
