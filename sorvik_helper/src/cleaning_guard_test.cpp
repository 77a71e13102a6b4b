// The last look before cleaning: what the cleaner opened must be what screening accepted.
#include "cleaning_guard.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "scratch_dir_test_support.hpp"
#include "sorvik_lib/sys/unique_fd.hpp"

namespace sorvik_helper {
namespace {

namespace fs = std::filesystem;
using sorvik_lib::sys::UniqueFd;
using testing_support::ScratchDir;

// What the cleaner would find opening `path` as a directory, links followed.
struct stat opened(const std::string& path) {
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct stat status {};
  EXPECT_EQ(::fstat(fd.get(), &status), 0) << path;
  return status;
}

// What the cleaner would find as the entry it is about to unlink.
struct stat entry(const std::string& path) {
  struct stat status {};
  EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
  return status;
}

// Puts a link to `target` where the directory `path` was; the directory moves aside.
void swap_for_link(const std::string& path, const std::string& target) {
  fs::rename(path, path + ".moved");
  fs::create_directory_symlink(target, path);
}

TEST(ScreenPaths, RecordsWhatEachAcceptedPathLedTo) {
  ScratchDir dir;
  fs::create_directories(dir / "tree");
  fs::create_directory_symlink(dir / "tree", dir / "link");
  const auto screened = screen_paths({dir / "tree", dir / "link", dir / "missing"}, {});
  struct stat tree {};
  ASSERT_EQ(::stat((dir / "tree").c_str(), &tree), 0);
  const FileIdentity identity{tree.st_dev, tree.st_ino};
  // A link is recorded as what it leads to, and as itself; a missing path has nothing to record.
  EXPECT_EQ(screened.identities, (std::map<sorvik_lib::types::Path, FileIdentity>{
                                     {dir / "tree", identity}, {dir / "link", identity}}));
  struct stat link {};
  ASSERT_EQ(::lstat((dir / "link").c_str(), &link), 0);
  EXPECT_EQ(screened.entry_identities,
            (std::map<sorvik_lib::types::Path, FileIdentity>{
                {dir / "tree", identity}, {dir / "link", {link.st_dev, link.st_ino}}}));
}

TEST(CheckTopEntry, LetsTheScreenedDirectoryThroughEvenBehindALink) {
  ScratchDir dir;
  fs::create_directories(dir / "kept");
  fs::create_directory_symlink(dir / "kept", dir / "link");
  const auto screened = screen_paths({dir / "kept", dir / "link"}, {});
  EXPECT_TRUE(check_top_entry(screened, dir / "kept", opened(dir / "kept")));
  EXPECT_TRUE(check_top_entry(screened, dir / "link", opened(dir / "link")));
}

TEST(CheckTopEntry, RefusesADirectoryThatIsNotTheOneScreened) {
  ScratchDir dir;
  fs::create_directories(dir / "kept");
  fs::create_directories(dir / "victim");
  fs::create_directories(dir / "parent/child");
  const auto screened = screen_paths({dir / "kept", dir / "parent/child", dir / "appeared"}, {});

  swap_for_link(dir / "kept", dir / "victim");
  EXPECT_EQ(check_top_entry(screened, dir / "kept", opened(dir / "kept")),
            std::unexpected("Path changed while it was being cleaned: " + dir / "kept"));

  // A swapped component above the path leads to a real directory of the same name elsewhere.
  fs::create_directories(dir / "victim/child");
  swap_for_link(dir / "parent", dir / "victim");
  EXPECT_EQ(check_top_entry(screened, dir / "parent/child", opened(dir / "parent/child")),
            std::unexpected("Path changed while it was being cleaned: " + dir / "parent/child"));

  // Nothing was there when it was screened, so nothing may be cleaned there now.
  fs::create_directories(dir / "appeared");
  EXPECT_EQ(check_top_entry(screened, dir / "appeared", opened(dir / "appeared")),
            std::unexpected("Path changed while it was being cleaned: " + dir / "appeared"));

  // A path the guard is asked about must have been accepted under that very spelling.
  EXPECT_FALSE(check_top_entry(screened, dir / "kept/", opened(dir / "kept.moved")));
}

TEST(CheckTopEntry, RefusesAForbiddenDirectoryReachedThroughASwappedComponent) {
  ScratchDir dir;
  fs::create_directories(dir / "system/usr");
  fs::create_directories(dir / "work/x/usr");
  const std::string root_text = dir / "system/usr";
  const std::string_view roots[] = {root_text};
  const std::string path = dir / "work/x/usr";
  const auto screened = screen_paths({path, dir / "work/x"}, roots);
  ASSERT_EQ(screened.accepted.size(), 2u);

  swap_for_link(dir / "work/x", dir / "system");
  EXPECT_EQ(check_top_entry(screened, path, opened(path)),
            std::unexpected("Path is forbidden: " + path));
  // A directory above a forbidden root is forbidden too.
  EXPECT_EQ(check_top_entry(screened, dir / "work/x", opened(dir / "work/x")),
            std::unexpected("Path is forbidden: " + dir / "work/x"));
}

TEST(CheckTopEntry, FilesAndLinksAreComparedAsThemselves) {
  ScratchDir dir;
  fs::create_directories(dir / "victim");
  fs::create_directories(dir / "parent");
  for (const char* name : {"victim/file", "parent/file", "file"}) {
    std::ofstream(dir / name) << "x";
  }
  fs::create_directory_symlink(dir / "victim", dir / "link");
  const auto screened =
      screen_paths({dir / "parent/file", dir / "file", dir / "link", dir / "link/"}, {});
  EXPECT_TRUE(check_top_entry(screened, dir / "file", entry(dir / "file")));
  // A link is the link itself, however it is spelled; a directory behind it is not that entry.
  EXPECT_TRUE(check_top_entry(screened, dir / "link", entry(dir / "link")));
  EXPECT_TRUE(check_top_entry(screened, dir / "link/", entry(dir / "link")));
  EXPECT_TRUE(check_top_entry(screened, dir / "link", opened(dir / "link")));

  // A file below a swapped component is another file.
  swap_for_link(dir / "parent", dir / "victim");
  EXPECT_EQ(check_top_entry(screened, dir / "parent/file", entry(dir / "parent/file")),
            std::unexpected("Path changed while it was being cleaned: " + dir / "parent/file"));
  // A file swapped for a link is not the file either.
  fs::rename(dir / "file", dir / "file.moved");
  fs::create_symlink(dir / "victim/file", dir / "file");
  EXPECT_FALSE(check_top_entry(screened, dir / "file", entry(dir / "file")));
}

}  // namespace
}  // namespace sorvik_helper
