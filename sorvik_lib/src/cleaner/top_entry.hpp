// The top of a path at its turn: the directory holding it opened once by name, the entry looked at
// through that handle and checked against what was screened, and for a directory the directory
// opened through the same handle. Everything after works through these handles.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include <expected>
#include <optional>
#include <string>

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
// folder. It may serve only while nothing taken since could have been a component of the folder's
// own lookup: a regular file never is, while a link above may lead through the folder itself to a
// link or directory in it. So the cleaner forgets it after any other path.
struct ParentCache {
  std::string text;
  sys::UniqueFd fd;
};

// The top's directory opened again by its name under the parent's handle, only if it is still
// the directory that was reached; nothing otherwise.
[[nodiscard]] sys::UniqueFd reopen_directory(const TopEntry& top);

// Reaches the top of `path` for `use`. Nothing (std::nullopt) when nothing is there any more, or a
// screened link (`options.expected` set) has come to lead nowhere. Fails, with nothing touched,
// with Kind::Changed when the entry, or the directory opened for it, is not what `options.expected`
// holds; with Kind::Forbidden when that directory is a forbidden one or "/"; with Kind::NotBegun
// and the system's reason otherwise (an emptying of what is no directory: ENOTDIR).
// The handle of the directory holding the top is taken from `parents`, or opened and kept there.
[[nodiscard]] std::expected<std::optional<TopEntry>, CleanError> reach_top(
    const types::Path& path, TopUse use, const TreeOptions& options, ParentCache& parents);

}  // namespace sorvik_lib::cleaner
