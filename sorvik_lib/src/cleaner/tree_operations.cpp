// The tree operations for any caller: one path reached, then measured, removed or emptied.
#include "sorvik_lib/cleaner/tree_operations.hpp"

#include <string_view>

#include "path_cleaning.hpp"
#include "sorvik_lib/sys/file_status.hpp"
#include "sorvik_lib/sys/path_calls.hpp"
#include "tree_walk.hpp"
#include "walk_controls.hpp"

namespace sorvik_lib::cleaner {

using types::Path;

namespace {

TreeOutcome clean_path(const Path& path, TopUse use, const TreeOptions& options) {
  auto reached = reach_path(path, use, options, nullptr);
  TreeOutcome outcome;
  if (!reached) {
    outcome.error = reached.error();
  } else if (!*reached) {
    outcome.absent = true;
  } else {
    outcome = clean_reached(path, std::move(**reached), use, options, nullptr);
  }
  return outcome;
}

}  // namespace

TreeMeasure measure_tree(const Path& path, const TreeOptions& options) {
  WalkControls walk;
  walk.forbidden = options.forbidden;
  walk.cancel = options.cancel;
  walk.linked_files = options.linked_files;
  TreeMeasure measure;
  // The start alone may be a link that leads to a directory, which is then entered.
  if (auto directory = sys::open_directory(path)) {
    if (const auto status = sys::status_of(directory->get())) {
      measure = measure_directory(std::move(*directory), *status, walk);
    }
    return measure;
  }
  auto status = sys::stat_path(path, sys::FinalLink::NoFollow);
  if (status && S_ISREG(status->st_mode)) count_regular_file(*status, walk, measure);
  return measure;
}

TreeOutcome remove_tree(const Path& path, const TreeOptions& options) {
  return clean_path(path, TopUse::Remove, options);
}

TreeOutcome empty_tree(const Path& path, const TreeOptions& options) {
  return clean_path(path, TopUse::Empty, options);
}

Path entry_path(const Path& path) {
  std::string_view entry = path;
  for (;;) {
    if (entry.size() > 1 && entry.ends_with('/')) {
      entry.remove_suffix(1);
    } else if (entry.size() > 2 && entry.ends_with("/.")) {
      entry.remove_suffix(2);
    } else {
      break;
    }
  }
  return Path(entry);
}

}  // namespace sorvik_lib::cleaner
