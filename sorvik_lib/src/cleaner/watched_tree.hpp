// Measuring and removing one path under a caller's controls: directories that must never be
// entered, a cancel flag, the hard-linked files counted so far and progress.
#pragma once

#include <expected>
#include <variant>

#include "sorvik_lib/cleaner/tree.hpp"
#include "tree_walk.hpp"
#include "walk_controls.hpp"

namespace sorvik_lib::cleaner {

// Why a watched removal stopped: the system, the top-entry check, a forbidden directory below the
// top, or the cancel flag.
using WatchedRemovalFailure =
    std::variant<sys::SystemError, RemovalRefused, ForbiddenDirectoryFound, WalkCancelled>;

// tree_size with the whole measure, under `controls`.
[[nodiscard]] TreeMeasure measure_path(const types::Path& path, const WalkControls& controls);

// remove_path with its check, under `controls`.
[[nodiscard]] std::expected<void, WatchedRemovalFailure> remove_path_watched(
    const types::Path& path, const TopEntryCheck& check, const WalkControls& controls);

}  // namespace sorvik_lib::cleaner
