// Measuring and removing one path, with no controls but the system's own.
#include "sorvik_lib/cleaner/tree.hpp"

#include <string_view>

#include "watched_tree.hpp"

namespace sorvik_lib::cleaner {

using types::Path;

std::uint64_t tree_size(const Path& path) { return measure_path(path, {}).bytes; }

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

std::expected<void, CleanError> remove_path(const Path& path) {
  return remove_path_watched(path, {}, {});
}

std::expected<void, CleanError> remove_tree(const Path& path) {
  return remove_tree_watched(path, {}, {});
}

}  // namespace sorvik_lib::cleaner
