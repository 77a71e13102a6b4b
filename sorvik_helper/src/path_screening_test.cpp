// The screening of an elevated request's paths, as a function: text rules, then identity.
#include "sorvik_screening/path_screening.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "scratch_dir_test_support.hpp"
#include "sorvik_lib/platform.hpp"

namespace sorvik_helper {
namespace {

using testing_support::ScratchDir;

using namespace std::string_literals;
using sorvik_lib::types::ErrorEntry;
using sorvik_lib::types::Path;

std::vector<std::string> messages(const ScreenedPaths& screened) {
  std::vector<std::string> result;
  for (const ErrorEntry& entry : screened.rejected) result.push_back(entry.message);
  return result;
}

TEST(ScreenPaths, TextRulesInOrderWithExactMessages) {
  const auto screened = screen_paths(
      {"relative/dir", "", "../x", "/Library/Caches/../../private", "/opt/cache/report..old",
       "/opt/cache/...", "/", "/usr", "/Users", "/Applications", "/.."},
      kForbiddenPaths);
  EXPECT_TRUE(screened.accepted.empty());
  EXPECT_EQ(messages(screened),
            (std::vector<std::string>{
                "Path is not absolute: relative/dir",
                "Path is not absolute: ", "Path is not absolute: ../x",
                "Path contains traversal: /Library/Caches/../../private",
                "Path contains traversal: /opt/cache/report..old",
                "Path contains traversal: /opt/cache/...", "Path is forbidden: /",
                "Path is forbidden: /usr", "Path is forbidden: /Users",
                "Path is forbidden: /Applications", "Path contains traversal: /.."}));
  EXPECT_EQ(screened.rejected[1].path, "");
  EXPECT_EQ(screened.rejected[3].path, "/Library/Caches/../../private");
}

TEST(ScreenPaths, NoPrefixTestAndAcceptedPathsKeepOrderAndDuplicates) {
  const auto screened = screen_paths({"/usr/local/nothing-here", "/Library/Caches",
                                      "/Applications/Old.app", "relative", "/Library/Caches"},
                                     kForbiddenPaths);
  EXPECT_EQ(screened.accepted, (std::vector<Path>{"/usr/local/nothing-here", "/Library/Caches",
                                                  "/Applications/Old.app", "/Library/Caches"}));
  EXPECT_EQ(screened.rejected,
            (std::vector<ErrorEntry>{{"relative", "Path is not absolute: relative"}}));
}

TEST(ScreenPaths, OtherSpellingsAndLinksOfARootAreRefusedByIdentity) {
  ScratchDir dir;
  std::filesystem::create_directories(dir / "sys/usr/local");
  std::filesystem::create_directories(dir / "sys/etc");
  std::filesystem::create_directory_symlink(dir / "sys/usr", dir / "link-to-usr");
  std::filesystem::create_directory_symlink("sys", dir / "alias");
  const std::string usr = dir / "sys/usr";
  // One root is named through a link, one does not exist.
  const std::string roots_text[] = {usr, dir / "alias/etc", dir / "absent"};
  const std::string_view roots[] = {roots_text[0], roots_text[1], roots_text[2]};
  const std::vector<Path> refused = {
      usr + "/", dir.text() + "/sys//usr", dir.text() + "/./sys/usr", dir / "link-to-usr",
      dir / "link-to-usr/", dir / "sys/etc//", dir / "alias/etc",
      // Directories above a root hold it.
      dir / "sys", dir / "alias", dir.text(), dir.text() + "/", "//", "/",
      // A root that does not exist is still refused by its text.
      dir / "absent"};
  const std::vector<Path> accepted = {dir / "sys/usr/local", dir / "absent/x", dir / "nothing",
                                      usr + "\0"s};
  std::vector<Path> all = refused;
  all.insert(all.end(), accepted.begin(), accepted.end());
  const auto screened = screen_paths(all, roots);
  EXPECT_EQ(screened.accepted, accepted);
  ASSERT_EQ(screened.rejected.size(), refused.size());
  for (std::size_t i = 0; i < refused.size(); ++i) {
    EXPECT_EQ(screened.rejected[i], (ErrorEntry{refused[i], "Path is forbidden: " + refused[i]}));
  }
}

TEST(ScreenPaths, OnlyExistingRootsTakePartInTheIdentityTest) {
  ScratchDir dir;
  std::filesystem::create_directories(dir / "real");
  const std::string absent = dir / "absent/deeper";
  const std::string_view roots[] = {absent};
  // The scratch directory is above a root that does not exist: that makes it nothing special.
  const auto screened = screen_paths({dir.text(), dir / "real"}, roots);
  EXPECT_EQ(screened.accepted, (std::vector<Path>{dir.text(), dir / "real"}));
}

TEST(ScreenPaths, TheLinuxSystemRootsAreForbiddenThereToo) {
  const std::vector<Path> roots = {"/boot", "/dev", "/lib", "/opt", "/proc", "/run", "/sys"};
  const auto screened = screen_paths(roots, platform_forbidden_paths());
#if SORVIK_FORBIDS_LINUX_ROOTS
  EXPECT_TRUE(screened.accepted.empty());
  EXPECT_EQ(screened.rejected.size(), roots.size());
  // By identity as well: "/proc/" is not the text of a root, but it is /proc.
  EXPECT_EQ(messages(screen_paths({"/proc/", "/sys/."}, platform_forbidden_paths())),
            (std::vector<std::string>{"Path is forbidden: /proc/", "Path is forbidden: /sys/."}));
#else
  // A build that screens as macOS does: /dev and /opt are macOS's roots as well; the others are
  // ordinary folders there, refused here only where this machine mounts a filesystem on them.
  static_assert(SORVIK_FORBIDS_MACOS_ROOTS);
  struct stat top {};
  ASSERT_EQ(::stat("/", &top), 0);
  std::vector<Path> ordinary;
  std::vector<std::string> refused = {"Path is forbidden: /dev", "Path is forbidden: /opt"};
  const std::vector<Path> linux_only = {"/boot", "/lib", "/proc", "/run", "/sys"};
  for (const Path& root : linux_only) {
    struct stat status {};
    const bool mounted = ::stat(root.c_str(), &status) == 0 && status.st_dev != top.st_dev;
    if (mounted) {
      refused.push_back("Path is forbidden: " + root);
    } else {
      ordinary.push_back(root);
    }
  }
  std::ranges::sort(refused);
  auto screened_messages = messages(screened);
  std::ranges::sort(screened_messages);
  EXPECT_EQ(screened.accepted, ordinary);
  EXPECT_EQ(screened_messages, refused);
#endif
  EXPECT_TRUE(std::ranges::equal(platform_forbidden_paths().first(kForbiddenPaths.size()),
                                 kForbiddenPaths));
}

// A build for macOS screens with this list; as a parameter like any other it is tested here, by
// text (none of these exists on Linux but /dev and /opt).
TEST(ScreenPaths, TheMacOSSystemRootsAreForbiddenByTheirText) {
  std::vector<std::string_view> macos_roots(kForbiddenPaths.begin(), kForbiddenPaths.end());
  macos_roots.insert(macos_roots.end(), kMacosSystemRoots.begin(), kMacosSystemRoots.end());
  std::vector<Path> paths(kMacosSystemRoots.begin(), kMacosSystemRoots.end());
  paths.insert(paths.end(), {"/Volumes/External/Caches", "/private/var/folders/xy/T/cache"});
  const auto screened = screen_paths(paths, macos_roots);
  EXPECT_EQ(screened.accepted,
            (std::vector<Path>{"/Volumes/External/Caches", "/private/var/folders/xy/T/cache"}));
  std::vector<std::string> refused;
  for (const auto root : kMacosSystemRoots) refused.push_back("Path is forbidden: " + Path(root));
  EXPECT_EQ(messages(screened), refused);

  const auto platform = platform_forbidden_paths();
  EXPECT_EQ(std::ranges::find(platform, "/Volumes") != platform.end(),
            SORVIK_FORBIDS_MACOS_ROOTS == 1);
}

}  // namespace
}  // namespace sorvik_helper
