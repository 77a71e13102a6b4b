// The top of a path at its turn: the directory holding it opened once by name, the entry looked at
// through that handle and checked against what was screened, and for a directory the directory
// opened through the same handle. Everything after, the measure and the removal or emptying (or a
// dry run's record of them), works through these handles.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include <expected>
#include <optional>
#include <string>

#include "preview_view.hpp"
#include "sorvik_lib/cleaner/clean_error.hpp"
#include "sorvik_lib/cleaner/tree_operations.hpp"
#include "sorvik_lib/sys/file_status.hpp"
#include "sorvik_lib/sys/unique_fd.hpp"
#include "sorvik_lib/types/records.hpp"

namespace sorvik_lib::cleaner {

// What is to become of the top: removed as what it is, or emptied as the directory it leads to.
enum class TopUse { Remove, Empty };

struct TopEntry {
  int parent = AT_FDCWD;  // the directory holding it, a ParentCache's handle (none for "/")
  std::string name;
  struct stat entry {};  // the entry itself, a final link as the link
  // The directory to walk, when there is one: the entry, or for an emptying what a link leads to.
  sys::UniqueFd directory;
  sys::FileStatus directory_status;
};

// The directory holding the last path's top, opened by its text, for the next path in the same
// folder: only while nothing taken since could have been a component of the folder's own lookup.
// A regular file never is; a link or directory may be, so the cleaner forgets it after any other.
struct ParentCache {
  std::string text;
  sys::UniqueFd fd;
};

// Reaches the top of `path` for `use`, the handle of the directory holding it taken from `parents`
// or opened and kept there. Nothing when nothing is there any more, or a screened link has come to
// lead nowhere. Fails, with nothing touched, with Kind::Changed when the entry, or the directory
// opened for it, is not what `options.expected` holds; with Kind::Forbidden when that directory is
// a forbidden one or "/"; with Kind::NotBegun otherwise (emptying no directory: ENOTDIR).
[[nodiscard]] std::expected<std::optional<TopEntry>, CleanError> reach_top(
    const types::Path& path, TopUse use, const TreeOptions& options, ParentCache& parents);

// Measures the reached top and removes or empties it, or in a dry run records in `preview` what
// the run would take. A directory holding a forbidden one, or (to be removed) another filesystem's
// root, is refused before anything goes; a failure part-way credits only what went.
[[nodiscard]] TreeOutcome clean_reached(const types::Path& path, TopEntry top, TopUse use,
                                        const TreeOptions& options, PreviewView* preview);

}  // namespace sorvik_lib::cleaner
