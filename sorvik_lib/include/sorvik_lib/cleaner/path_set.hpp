// A set of paths that compare component by component: "/a/b", "/a/b/", "/a//b" and "/a/./b" are
// one member. ".." is an ordinary component and components compare byte for byte.
#pragma once

#include <cstddef>
#include <string_view>
#include <unordered_set>

#include "sorvik_lib/types/records.hpp"

namespace sorvik_lib::cleaner {

// Equality by components: separators repeated or trailing, and "." after the first component,
// make no difference. "/a" and "a" differ (the root is a component), as do "./a" and "a".
[[nodiscard]] bool same_components(std::string_view left, std::string_view right);

// A hash that agrees with same_components: it is taken over the components, not the raw bytes.
[[nodiscard]] std::size_t hash_components(std::string_view path);

struct PathComponentsHash {
  std::size_t operator()(std::string_view path) const { return hash_components(path); }
};

struct PathComponentsEqual {
  bool operator()(std::string_view left, std::string_view right) const {
    return same_components(left, right);
  }
};

using PathSet = std::unordered_set<types::Path, PathComponentsHash, PathComponentsEqual>;

}  // namespace sorvik_lib::cleaner
