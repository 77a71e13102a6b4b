// Measuring, removing and emptying one path under a caller's controls: directories that must never
// be entered, a cancel flag, the hard-linked files counted so far and progress. The top of a path
// is opened once and shown to the guard (when set), whose refusal fails the path with
// Kind::Refused before anything of it goes; everything below the top goes through handles.
#pragma once

#include <expected>
#include <set>
#include <string>

#include "sorvik_lib/cleaner/clean_error.hpp"
#include "sorvik_lib/cleaner/cleaner.hpp"
#include "sorvik_lib/types/records.hpp"
#include "walk_controls.hpp"
#include "walk_results.hpp"

namespace sorvik_lib::cleaner {

// tree_size with the whole measure, under `controls`.
[[nodiscard]] TreeMeasure measure_path(const types::Path& path, const WalkControls& controls);

// remove_path, with the guard.
[[nodiscard]] std::expected<void, CleanError> remove_path_watched(const types::Path& path,
                                                                  const TopEntryGuard& guard,
                                                                  const WalkControls& controls);

// remove_tree, with the guard.
[[nodiscard]] std::expected<void, CleanError> remove_tree_watched(const types::Path& path,
                                                                  const TopEntryGuard& guard,
                                                                  const WalkControls& controls);

// Empties the directory `path` leads to (a final link followed), which stays, with the guard
// asked about it first; the entries named in `left_whole` are not touched. Each failure inside it
// is handed to `on_entry_failed`: an entry that cannot go by its name, a listing of the directory
// that fails part-way with no name. Fails with Kind::System or Kind::Refused before anything goes,
// and with Kind::Forbidden or Kind::Cancelled on the way.
[[nodiscard]] std::expected<void, CleanError> empty_path_watched(
    const types::Path& path, const TopEntryGuard& guard, const WalkControls& controls,
    const EntryFailed& on_entry_failed, std::set<std::string> left_whole = {});

}  // namespace sorvik_lib::cleaner
