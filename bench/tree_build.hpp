// The trees the contenders delete, made fresh for every timed run. Each builder returns what it
// made, so the harness can check its independent count against the plan.
#pragma once

#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "sorvik_lib/sys/system_error.hpp"
#include "tree_count.hpp"

namespace sorvik_bench {

enum class TreeKind {
  Wide,   // 100,000 files of 1 KiB in 1,000 directories
  Small,  // 10,000 files of 1 KiB in 100 directories
  Deep,   // a chain of 20,000 directories with one file at the bottom, far beyond PATH_MAX
  Mixed,  // files of many sizes, sparse files, hard links, symbolic links, empty directories
};

[[nodiscard]] std::string_view tree_name(TreeKind kind);
[[nodiscard]] std::optional<TreeKind> parse_tree_kind(std::string_view name);

// Makes the folder `outside` with a witness file in it. The mixed tree points symbolic links at
// it and holds a hard link to the file, so a deletion that strays outside its tree shows.
[[nodiscard]] std::expected<void, sorvik_lib::sys::SystemError> make_outside_witness(
    const std::string& outside);
// Empty when the witness is whole, else what is wrong with it.
[[nodiscard]] std::string check_outside_witness(const std::string& outside);

// Builds the tree `kind` at `path`, which must not exist yet, and returns what it made.
[[nodiscard]] std::expected<TreeCount, sorvik_lib::sys::SystemError> build_tree(
    TreeKind kind, const std::string& path, const std::string& outside);

}  // namespace sorvik_bench
