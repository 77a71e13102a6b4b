// Swapping a path for a link while the helper runs, after it has screened the request and before
// it reaches the swapped path. The request's first path is a sentinel file: once it is gone the
// helper is cleaning. Its second path is a slow tree: while that is still there, the helper has
// not reached anything after it.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace sorvik_test {

// Fills `directory` with `files` small files, enough to keep the helper busy for a while.
void make_slow_tree(const std::filesystem::path& directory, int files);

// Puts a link to `target` where `path` was; what was at `path` moves to `path` + ".moved".
void swap_for_link(const std::filesystem::path& path, const std::filesystem::path& target);

// Calls `run` (which starts the helper and waits for it) while another thread waits for
// `sentinel` to vanish and then calls `swap`. Tells whether the swap was complete while
// `slow_tree` still existed, which proves that the helper met the swapped path only afterwards.
[[nodiscard]] bool swap_while_cleaning(const std::function<void()>& run,
                                       const std::filesystem::path& sentinel,
                                       const std::filesystem::path& slow_tree,
                                       const std::function<void()>& swap);

}  // namespace sorvik_test
