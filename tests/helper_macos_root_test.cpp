// The real helper inside a root laid out as a Mac's, and a Linux root with a system folder bound
// inside a tree: every other name of a forbidden root, and every directory that holds one, is
// refused whole, and nothing of the system is touched.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "sorvik_lib/platform.hpp"
#include "sorvik_lib/types/wire.hpp"
#include "support/helper_chroot.hpp"

namespace sorvik_test {
namespace {

namespace fs = std::filesystem;
using sorvik_lib::types::CleanResult;
using sorvik_lib::types::ErrorEntry;

std::vector<ErrorEntry> refusals_of(const std::vector<std::string>& paths) {
  std::vector<ErrorEntry> refusals;
  for (const auto& path : paths) refusals.push_back({path, "Path is forbidden: " + path});
  std::ranges::sort(refusals, {}, &ErrorEntry::path);
  return refusals;
}

// The helper's result for `paths` (with `keep`), its errors sorted: the cleaner's own refusals
// come before the screening's, and which refuses a path is not the point here.
CleanResult clean_inside(const HelperChroot& chroot, const std::vector<std::string>& paths,
                         const std::vector<std::string>& keep = {}) {
  const auto ran = chroot.run(elevated_request(paths, keep));
  EXPECT_EQ(ran.process.error, "");
  EXPECT_TRUE(ran.process.status.success()) << ran.process.status.to_string();
  auto result = decode_exact(ran.process.output);
  std::ranges::sort(result.errors, {}, &ErrorEntry::path);
  return result;
}

TEST(HelperMacOSRoot, EveryNameAndHolderOfARootIsRefused) {
  HelperChroot chroot(RootShape::MacOS);
  if (chroot.unavailable()) GTEST_SKIP() << *chroot.unavailable();
  write_file(chroot.host_path("/scratch/junk"), std::string(10, 'j'));
  fs::create_directories(chroot.host_path("/System/Volumes/Data/Library/Caches"));
  write_file(chroot.host_path("/System/Volumes/Data/Library/Caches/junk"), std::string(20, 'j'));
  const std::vector<std::string> refused = {"/Users",
                                            "/Users/",
                                            "//Users",
                                            "/System/Volumes/Data/Users",
                                            "/System",
                                            "/System/Volumes",
                                            "/System/Volumes/Data",
                                            "/private",
                                            "/System/Volumes/Data/private",
                                            "/private/var",
                                            "/private/tmp/",
                                            "/var",
                                            "/tmp",
                                            "/etc/",
                                            "/Library",
                                            "/Applications",
                                            "/System/Volumes/Data/Applications",
                                            "/System/Volumes/Data/Library"};
  std::vector<std::string> paths = refused;
  paths.insert(paths.begin() + 5, "/Library/Caches/junk");
  paths.push_back("/scratch/junk");
  EXPECT_EQ(clean_inside(chroot, paths),
            (CleanResult{{"/Library/Caches/junk", "/scratch/junk"}, refusals_of(refused), 30}));
  EXPECT_EQ(chroot.damaged_markers(), std::vector<std::string>{});
}

// macOS's own roots, by their text: a build for macOS refuses them, and so does the portable
// build, which takes its branches.
TEST(HelperMacOSRoot, TheMacOSSystemRootsAreRefusedWhateverTheyHold) {
  if (!SORVIK_FORBIDS_MACOS_ROOTS) GTEST_SKIP() << "a build for Linux alone keeps Linux's roots";
  HelperChroot chroot(RootShape::MacOS);
  if (chroot.unavailable()) GTEST_SKIP() << *chroot.unavailable();
  for (const char* marker : {"/Volumes/External/marker", "/cores/marker", "/Network/marker",
                             "/opt/homebrew/marker", "/dev/marker"}) {
    chroot.add_marker(marker);
  }
  write_file(chroot.host_path("/Volumes/External/Caches"), std::string(40, 'c'));
  const std::vector<std::string> refused = {"/Volumes", "/dev",  "/cores",          "/Network",
                                            "/opt",     "/opt/", "/System/Volumes", "/private"};
  std::vector<std::string> paths = refused;
  paths.push_back("/Volumes/External/Caches");
  EXPECT_EQ(clean_inside(chroot, paths),
            (CleanResult{{"/Volumes/External/Caches"}, refusals_of(refused), 40}));
  EXPECT_EQ(chroot.damaged_markers(), std::vector<std::string>{});
}

TEST(HelperMacOSRoot, AHolderOfARootIsNotEmptiedAsAKeptRootEither) {
  HelperChroot chroot(RootShape::MacOS);
  if (chroot.unavailable()) GTEST_SKIP() << *chroot.unavailable();
  const std::vector<std::string> holders = {"/System/Volumes/Data", "/System/Volumes",
                                            "/System/Volumes/Data/private"};
  EXPECT_EQ(clean_inside(chroot, holders, holders), (CleanResult{{}, refusals_of(holders), 0}));
  EXPECT_EQ(chroot.damaged_markers(), std::vector<std::string>{});
}

TEST(HelperMacOSRoot, OnACaseFoldingVolumeEveryCaseIsTheSameRoot) {
  HelperChroot chroot(RootShape::MacOSCaseFolding);
  if (chroot.unavailable()) GTEST_SKIP() << *chroot.unavailable();
  ASSERT_TRUE(fs::equivalent(chroot.host_path("/USERS"), chroot.host_path("/Users")));
  const std::vector<std::string> refused = {
      "/USERS",          "/users/",      "/LIBRARY", "/system/volumes/data",
      "/SYSTEM/Volumes", "/Private/Var", "/VAR",     "/Applications/"};
  EXPECT_EQ(clean_inside(chroot, refused), (CleanResult{{}, refusals_of(refused), 0}));
  EXPECT_EQ(chroot.damaged_markers(), std::vector<std::string>{});
}

// A bind mount of /usr deep inside a tree: the tree is refused before anything of it goes.
TEST(HelperLinuxRoot, ATreeHoldingABoundSystemFolderIsLeftWhole) {
  HelperChroot chroot;
  if (chroot.unavailable()) GTEST_SKIP() << *chroot.unavailable();
  for (const char* tree : {"/scratch/tree", "/scratch/kept"}) {
    const std::string view = std::string(tree) + "/deep/er/usr-view";
    fs::create_directories(chroot.host_path(view));
    chroot.bind("/usr", view);
    chroot.add_marker(std::string(tree) + "/first-listed");
    chroot.add_marker(std::string(tree) + "/deep/sibling");
  }
  write_file(chroot.host_path("/scratch/fine"), "fine");
  const std::vector<std::string> refused = {"/scratch/kept", "/scratch/tree"};
  EXPECT_EQ(
      clean_inside(chroot, {"/scratch/tree", "/scratch/kept", "/scratch/fine"}, {"/scratch/kept"}),
      (CleanResult{{"/scratch/fine"}, refusals_of(refused), 4}));
  EXPECT_EQ(chroot.damaged_markers(), std::vector<std::string>{});
}

}  // namespace
}  // namespace sorvik_test
