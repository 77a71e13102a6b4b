#include "cleaning_guard.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "scratch_dir_test_support.hpp"
#include "sorvik_lib/sys/unique_fd.hpp"

namespace sorvik_helper {
namespace {

namespace fs = std::filesystem;
using sorvik_lib::sys::UniqueFd;
using testing_support::ScratchDir;

UniqueFd open_directory(const std::string& path) {
  return UniqueFd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
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
  // A link is recorded as what it leads to; a missing path has nothing to record.
  EXPECT_EQ(screened.identities, (std::map<sorvik_lib::types::Path, FileIdentity>{
                                     {dir / "tree", identity}, {dir / "link", identity}}));
}

TEST(CheckOpenedDirectory, LetsTheScreenedDirectoryThroughEvenBehindALink) {
  ScratchDir dir;
  fs::create_directories(dir / "kept");
  fs::create_directory_symlink(dir / "kept", dir / "link");
  const auto screened = screen_paths({dir / "kept", dir / "link"}, {});
  EXPECT_TRUE(check_opened_directory(screened, dir / "kept", open_directory(dir / "kept").get()));
  EXPECT_TRUE(check_opened_directory(screened, dir / "link", open_directory(dir / "link").get()));
}

TEST(CheckOpenedDirectory, RefusesADirectoryThatIsNotTheOneScreened) {
  ScratchDir dir;
  fs::create_directories(dir / "kept");
  fs::create_directories(dir / "victim");
  fs::create_directories(dir / "parent/child");
  const auto screened = screen_paths({dir / "kept", dir / "parent/child", dir / "appeared"}, {});

  swap_for_link(dir / "kept", dir / "victim");
  EXPECT_EQ(check_opened_directory(screened, dir / "kept", open_directory(dir / "kept").get()),
            std::unexpected("Path changed while it was being cleaned: " + dir / "kept"));

  // A swapped component above the path leads to a real directory of the same name elsewhere.
  fs::create_directories(dir / "victim/child");
  swap_for_link(dir / "parent", dir / "victim");
  EXPECT_EQ(check_opened_directory(screened, dir / "parent/child",
                                   open_directory(dir / "parent/child").get()),
            std::unexpected("Path changed while it was being cleaned: " + dir / "parent/child"));

  // Nothing was there when it was screened, so nothing may be cleaned there now.
  fs::create_directories(dir / "appeared");
  EXPECT_EQ(
      check_opened_directory(screened, dir / "appeared", open_directory(dir / "appeared").get()),
      std::unexpected("Path changed while it was being cleaned: " + dir / "appeared"));

  // A path the guard is asked about must have been accepted under that very spelling.
  EXPECT_FALSE(
      check_opened_directory(screened, dir / "kept/", open_directory(dir / "kept.moved").get()));
}

TEST(CheckOpenedDirectory, RefusesAForbiddenDirectoryReachedThroughASwappedComponent) {
  ScratchDir dir;
  fs::create_directories(dir / "system/usr");
  fs::create_directories(dir / "work/x/usr");
  const std::string root_text = dir / "system/usr";
  const std::string_view roots[] = {root_text};
  const std::string path = dir / "work/x/usr";
  const auto screened = screen_paths({path, dir / "work/x"}, roots);
  ASSERT_EQ(screened.accepted.size(), 2u);

  swap_for_link(dir / "work/x", dir / "system");
  EXPECT_EQ(check_opened_directory(screened, path, open_directory(path).get()),
            std::unexpected("Path is forbidden: " + path));
  // A directory above a forbidden root is forbidden too.
  EXPECT_EQ(check_opened_directory(screened, dir / "work/x", open_directory(dir / "work/x").get()),
            std::unexpected("Path is forbidden: " + dir / "work/x"));
}

TEST(CheckOpenedDirectory, AHandleThatCannotBeExaminedIsRefused) {
  ScratchDir dir;
  const auto screened = screen_paths({dir.text()}, {});
  EXPECT_EQ(check_opened_directory(screened, dir.text(), -1),
            std::unexpected(std::string("Bad file descriptor (os error 9)")));
}

}  // namespace
}  // namespace sorvik_helper
