// An independent count of a tree: its entries by kind and the apparent lengths of its regular
// files, the figure the helper's bytesFreed must equal. Written apart from the library on purpose.
#pragma once

#include <cstdint>
#include <expected>
#include <string>

#include "sorvik_lib/sys/system_error.hpp"

namespace sorvik_bench {

struct TreeCount {
  std::uint64_t files = 0;        // regular files, each hard link counted
  std::uint64_t directories = 0;  // the top directory included
  std::uint64_t links = 0;        // symbolic links, never followed
  std::uint64_t others = 0;       // anything else
  std::uint64_t bytes = 0;        // sum of the regular files' apparent lengths

  [[nodiscard]] std::uint64_t entries() const { return files + directories + links + others; }
  friend bool operator==(const TreeCount&, const TreeCount&) = default;
};

// Walks the directory `path` without following any symbolic link. It holds one directory open at
// a time (a directory is listed whole before the walk goes down, and it comes back up through
// ".."), so a chain deeper than the open-file limit is no trouble.
[[nodiscard]] std::expected<TreeCount, sorvik_lib::sys::SystemError> count_tree(
    const std::string& path);

}  // namespace sorvik_bench
