// Paths that compare and hash by their components.
#include "sorvik_lib/cleaner/path_set.hpp"

#include <gtest/gtest.h>

namespace sorvik_lib::cleaner {
namespace {

TEST(PathComponents, SpellingsOfOnePathAreEqualAndHashAlike) {
  for (std::string_view same : {"/a/b/", "/a//b", "/a/./b", "/a/b/.", "//a///b//", "/./a/b"}) {
    EXPECT_TRUE(same_components("/a/b", same)) << same;
    EXPECT_EQ(hash_components("/a/b"), hash_components(same)) << same;
  }
  EXPECT_TRUE(same_components("a/./b", "a/b"));
  EXPECT_TRUE(same_components("./a", "./a/"));
  EXPECT_TRUE(same_components("", ""));
}

TEST(PathComponents, DifferentPathsDiffer) {
  const std::pair<std::string_view, std::string_view> different[] = {
      {"/a/b", "/a/B"},   {"/a/b", "a/b"}, {"./a", "a"},     {"/a/../b", "/b"},
      {"/a/b", "/a/bc"},  {"/a/b", "/ab"}, {"/", ""},        {"/a/b", "/a"},
      {"/a/b", "/a/b/c"}, {"/a/..", "/"},  {"/a\xFF", "/a"}, {"/a b", "/a/b"},
  };
  for (const auto& [left, right] : different) {
    EXPECT_FALSE(same_components(left, right)) << left << " vs " << right;
    EXPECT_FALSE(same_components(right, left)) << right << " vs " << left;
  }
}

TEST(PathSet, FindsMembersByComponentsAndMergesDuplicates) {
  const PathSet set = {"/Library/Caches/App/", "/Library//Caches/App", "/x"};
  EXPECT_EQ(set.size(), 2u);
  EXPECT_TRUE(set.contains("/Library/Caches/App"));
  EXPECT_TRUE(set.contains("/x/"));
  EXPECT_FALSE(set.contains("/Library/Caches"));
  EXPECT_FALSE(set.contains("x"));
}

}  // namespace
}  // namespace sorvik_lib::cleaner
