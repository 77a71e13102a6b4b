// Screening's answer is one record per accepted path, and what gets cleaned is only ever what a
// record found: a path swapped since, under the same name, is refused untouched.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "scratch_dir_test_support.hpp"
#include "sorvik_lib/cleaner/cleaner.hpp"
#include "sorvik_screening/path_screening.hpp"

namespace sorvik_helper {
namespace {

namespace fs = std::filesystem;
using sorvik_lib::cleaner::Cleaner;
using sorvik_lib::cleaner::DryRun;
using sorvik_lib::cleaner::FileIdentity;
using sorvik_lib::cleaner::TreeOptions;
using sorvik_lib::types::CleanResult;
using sorvik_lib::types::ErrorEntry;
using testing_support::ScratchDir;

FileIdentity identity(const std::string& path, bool follow = true) {
  struct stat status {};
  EXPECT_EQ(follow ? ::stat(path.c_str(), &status) : ::lstat(path.c_str(), &status), 0) << path;
  return {status.st_dev, status.st_ino};
}

// Puts a link to `target` where the directory `path` was; the directory moves aside.
void swap_for_link(const std::string& path, const std::string& target) {
  fs::rename(path, path + ".moved");
  fs::create_directory_symlink(target, path);
}

CleanResult clean(const ScreenedPaths& screened) {
  TreeOptions options;
  options.forbidden = &screened.forbidden;
  return Cleaner::run(screened.accepted, screened.records, DryRun::No, {}, options).result;
}

ErrorEntry changed(const std::string& path) {
  return {path, "Path changed while it was being cleaned: " + path};
}

TEST(ScreenPaths, RecordsWhatEachAcceptedPathThatExistsNamedAndLedTo) {
  ScratchDir dir;
  fs::create_directories(dir / "tree");
  fs::create_directory_symlink(dir / "tree", dir / "link");
  const auto screened =
      screen_paths({dir / "tree", dir / "link", dir / "missing"}, {}, {dir / "link"});
  ASSERT_EQ(screened.accepted.size(), 3u);
  // A missing path has no record: nothing was found there.
  ASSERT_EQ(screened.records.size(), 2u);
  const auto& tree = screened.records[0];
  const auto& link = screened.records[1];
  ASSERT_TRUE(tree.entry && link.entry);
  EXPECT_EQ(link.index, 1u);
  EXPECT_EQ(tree.expected().entry, identity(dir / "tree"));
  EXPECT_EQ(tree.led_to, identity(dir / "tree"));
  EXPECT_FALSE(tree.kept);
  // A link is recorded as itself and as what it leads to; a missing path records why.
  EXPECT_EQ(link.expected().entry, identity(dir / "link", false));
  EXPECT_EQ(link.led_to, identity(dir / "tree"));
  EXPECT_TRUE(link.kept);
}

TEST(ScreenedRecords, ADirectorySwappedSinceIsRefusedUntouched) {
  ScratchDir dir;
  fs::create_directories(dir / "kept");
  fs::create_directories(dir / "victim/child");
  std::ofstream(dir / "victim/child/precious") << "x";
  fs::create_directories(dir / "parent/child");
  const auto screened = screen_paths({dir / "kept", dir / "parent/child", dir / "appeared"}, {});
  swap_for_link(dir / "kept", dir / "victim");
  // A swapped component above the path leads to a real directory of the same name elsewhere.
  swap_for_link(dir / "parent", dir / "victim");
  // Nothing was there when it was screened, so nothing is cleaned there now.
  fs::create_directories(dir / "appeared");
  EXPECT_EQ(clean(screened),
            (CleanResult{{}, {changed(dir / "kept"), changed(dir / "parent/child")}, 0}));
  EXPECT_TRUE(fs::exists(dir / "victim/child/precious"));
  EXPECT_TRUE(fs::exists(dir / "appeared"));
}

TEST(ScreenedRecords, AForbiddenDirectoryReachedThroughASwappedComponentIsRefused) {
  ScratchDir dir;
  fs::create_directories(dir / "system/usr");
  fs::create_directories(dir / "work/x/usr");
  const std::string root_text = dir / "system/usr";
  const std::string_view roots[] = {root_text};
  const std::string path = dir / "work/x/usr";
  const auto screened = screen_paths({path, dir / "work/x"}, roots);
  ASSERT_EQ(screened.accepted.size(), 2u);
  swap_for_link(dir / "work/x", dir / "system");
  const auto result = clean(screened);
  EXPECT_TRUE(fs::exists(root_text));
  // The path leads to the forbidden root now, or to what is no longer what was screened.
  ASSERT_EQ(result.errors.size(), 2u);
  EXPECT_TRUE(result.removed.empty());
}

TEST(ScreenedRecords, FilesAndLinksAreComparedAsThemselves) {
  ScratchDir dir;
  fs::create_directories(dir / "victim");
  fs::create_directories(dir / "parent");
  for (const char* name : {"victim/file", "parent/file", "file"}) {
    std::ofstream(dir / name) << "x";
  }
  fs::create_directory_symlink(dir / "victim", dir / "link");
  const auto screened =
      screen_paths({dir / "parent/file", dir / "file", dir / "link/", dir / "link"}, {});
  // A file below a swapped component is another file.
  swap_for_link(dir / "parent", dir / "victim");
  // A file swapped for a link is not the file either.
  fs::rename(dir / "file", dir / "file.moved");
  fs::create_symlink(dir / "victim/file", dir / "file");
  // A link is the link itself, however it is spelled; it goes as a link, and once.
  EXPECT_EQ(
      clean(screened),
      (CleanResult{{dir / "link/"}, {changed(dir / "parent/file"), changed(dir / "file")}, 0}));
  EXPECT_TRUE(fs::exists(dir / "victim/file"));
  EXPECT_FALSE(fs::is_symlink(dir / "link"));
}

}  // namespace
}  // namespace sorvik_helper
