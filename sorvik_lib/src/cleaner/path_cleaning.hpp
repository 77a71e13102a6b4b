// One path cleaned, or previewed, from its top down: the steps the tree operations and the cleaner
// share, so that a dry run makes the real run's decisions.
#pragma once

#include "preview_view.hpp"
#include "sorvik_lib/cleaner/tree_operations.hpp"
#include "top_entry.hpp"

namespace sorvik_lib::cleaner {

// Measures the reached top and removes or empties it; in a dry run, only records in `preview`
// what the run would take. A directory holding a forbidden one, or (to be removed) another
// filesystem's root, is refused before anything goes; a failure part-way credits what went,
// measured through the handle the top was reached by.
[[nodiscard]] TreeOutcome clean_reached(const types::Path& path, TopEntry top, TopUse use,
                                        const TreeOptions& options, PreviewView* preview);

}  // namespace sorvik_lib::cleaner
