// Trees of many small files for tests that need a clean to take a while, and what is left of them
// afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace sorvik_test {

// `root` (created) holding `directories` subdirectories "d0", "d1", ... of `files_each` files of
// `file_size` bytes each. Throws when the tree cannot be made.
void make_wide_tree(const std::filesystem::path& root, std::size_t directories,
                    std::size_t files_each, std::size_t file_size);

// The regular files under `root` (none when it is gone), and the disk space their blocks take.
struct TreeCount {
  std::uint64_t files = 0;
  std::uint64_t bytes = 0;
  std::uint64_t allocated = 0;
};
[[nodiscard]] TreeCount count_tree(const std::filesystem::path& root);

}  // namespace sorvik_test
