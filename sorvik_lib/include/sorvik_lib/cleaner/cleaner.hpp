// The filesystem cleaner: removes paths, empties kept roots, measures the bytes freed and reports
// progress. It applies no rule of its own to the paths it is given; it acts on what each record
// says was found there, and only while the path still names that.
#pragma once

#include <cstdint>
#include <span>

#include "sorvik_lib/cleaner/clean_progress.hpp"
#include "sorvik_lib/cleaner/path_record.hpp"
#include "sorvik_lib/cleaner/path_set.hpp"
#include "sorvik_lib/cleaner/tree_operations.hpp"
#include "sorvik_lib/types/records.hpp"

namespace sorvik_lib::cleaner {

// Whether a clean deletes, or only measures and lists what the real run would delete.
enum class DryRun : bool { No, Yes };

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
  // `preserve_root_paths` is emptied and stays; anything else is removed whole. A dry run deletes
  // nothing and lists every existing path with its measure. Never fails as a whole: each failure
  // is an entry of the result's errors.
  [[nodiscard]] static types::CleanResult clean(std::span<const types::Path> paths, DryRun dry_run,
                                                const PathSet& preserve_root_paths,
                                                const ProgressCallback& on_progress);

  // Cleans `paths` in order, each with a record in `records` (by index, ascending) only while it
  // still names what its record found; a path without one is skipped. A dry run makes the real
  // run's decisions on the same records: what an earlier path takes is gone for a later one, and
  // a kept root that is no directory fails with ENOTDIR in both. `options` holds for every path;
  // its cancel flag stops the clean at the next entry, failing the path at hand (credited with
  // what went of it) and every path after it with "Cancelled".
  [[nodiscard]] static CleanOutcome run(std::span<const types::Path> paths,
                                        std::span<const PathRecord> records, DryRun dry_run,
                                        const ProgressCallback& on_progress,
                                        const TreeOptions& options);
};

}  // namespace sorvik_lib::cleaner
