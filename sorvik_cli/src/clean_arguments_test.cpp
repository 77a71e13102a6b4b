// How `sorvik clean` turns its PATHs and --keep DIRs into an elevated request.
#include "clean_arguments.hpp"

#include <gtest/gtest.h>

namespace sorvik_cli {
namespace {

TEST(CleanArguments, ARelativePathIsJoinedToTheWorkingDirectoryAndNothingMore) {
  EXPECT_EQ(make_absolute("node_modules", "/home/me/app"), "/home/me/app/node_modules");
  EXPECT_EQ(make_absolute("node_modules", "/home/me/app/"), "/home/me/app/node_modules");
  EXPECT_EQ(make_absolute("x", "/"), "/x");
  // ".." and "." stay for the screening to refuse or accept: nothing is resolved here.
  EXPECT_EQ(make_absolute("../x", "/home/me/app"), "/home/me/app/../x");
  EXPECT_EQ(make_absolute("./a/../b", "/w"), "/w/./a/../b");
  EXPECT_EQ(make_absolute("/abs/path", "/w"), "/abs/path");
  // An empty argument must not become the working directory itself.
  EXPECT_EQ(make_absolute("", "/home/me/app"), "");
}

TEST(CleanArguments, TheWorkingDirectoryIsAbsolute) {
  const auto directory = working_directory();
  ASSERT_TRUE(directory.has_value()) << directory.error().message();
  EXPECT_TRUE(directory->starts_with('/')) << *directory;
  EXPECT_EQ(directory->find('\0'), std::string::npos);
}

TEST(CleanArguments, EachKeptDirMustBeOneOfThePathsByComponents) {
  const std::vector<std::string> paths = {"/w/cache", "/w/kept", "/w/a/b"};
  EXPECT_EQ(keep_not_among_paths(paths, {}), std::nullopt);
  EXPECT_EQ(keep_not_among_paths(paths, {"/w/kept/", "/w//a/./b", "/w/cache"}), std::nullopt);
  EXPECT_EQ(keep_not_among_paths(paths, {"/w/kept", "/w/other"}), 1u);
  // Neither a parent nor a child of a PATH is that PATH.
  EXPECT_EQ(keep_not_among_paths(paths, {"/w"}), 0u);
  EXPECT_EQ(keep_not_among_paths(paths, {"/w/kept/sub"}), 0u);
  // ".." is compared as written, never resolved.
  EXPECT_EQ(keep_not_among_paths(paths, {"/w/a/../kept"}), 0u);
  EXPECT_EQ(keep_not_among_paths({}, {"/w/kept"}), 0u);
}

}  // namespace
}  // namespace sorvik_cli
