// The forbidden roots, end to end: the real helper runs inside a throwaway root directory that
// the test builds, so that "/", "//" or "/usr/" reach a real helper without ever naming anything
// of the host.
#include "support/helper_chroot.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "sorvik_lib/types/wire.hpp"
#include "support/path_swap.hpp"

namespace sorvik_test {
namespace {

namespace fs = std::filesystem;
using sorvik_lib::types::CleanResult;
using sorvik_lib::types::ErrorEntry;

TEST(HelperChroot, ForbiddenRootsByAnySpellingSurvive) {
  HelperChroot chroot;
  if (chroot.unavailable()) GTEST_SKIP() << *chroot.unavailable();
  const fs::path root = chroot.root();
  fs::create_directories(root / "tmp/scratch");
  write_file(root / "tmp/scratch/junk", std::string(10, 'j'));
  write_file(root / "usr/local/junk", std::string(20, 'j'));
  // Relative links, so that they name the same places inside the chroot and outside it: "/" and
  // "/usr" inside, this test's own directories outside.
  fs::create_directory_symlink(".", root / "link-to-root");
  fs::create_directory_symlink("usr", root / "link-to-usr");

  const std::vector<std::string> refused = {
      "/",    "//",       "/usr/", "/./usr", "/etc//", "/link-to-root", "/link-to-usr/",
      "/tmp", "///tmp/.", "/var/"};
  std::vector<std::string> paths = refused;
  paths.insert(paths.begin() + 3, "/tmp/scratch");
  paths.push_back("/usr/local/junk");
  const auto ran = chroot.run(elevated_request(paths));
  EXPECT_EQ(ran.process.error, "");
  ASSERT_TRUE(ran.process.status.success()) << ran.process.status.to_string();
  const auto result = decode_exact(ran.process.output);

  std::vector<ErrorEntry> refusals;
  for (const auto& path : refused) refusals.push_back({path, "Path is forbidden: " + path});
  EXPECT_EQ(result, (CleanResult{{"/tmp/scratch", "/usr/local/junk"}, refusals, 30}));
  EXPECT_EQ(chroot.damaged_markers(), std::vector<std::string>{});
  EXPECT_FALSE(fs::exists(root / "tmp/scratch"));
}

// A component above an accepted path swapped for a link to "/" after screening: what the helper
// would then open is a forbidden root, which it must refuse whether it was to remove or to empty.
TEST(HelperChroot, AForbiddenRootReachedThroughASwappedComponentSurvives) {
  HelperChroot chroot;
  if (chroot.unavailable()) GTEST_SKIP() << *chroot.unavailable();
  const fs::path scratch = chroot.host_path("/scratch");
  for (const char* name : {"a/usr", "b/usr"}) {
    fs::create_directories(scratch / name);
    write_file(scratch / name / "junk", "jjj");
  }
  write_file(scratch / "sentinel", "s");
  constexpr int kSlowFiles = 3000;
  make_slow_tree(scratch / "slow", kSlowFiles);
  const std::vector<std::string> paths = {"/scratch/sentinel", "/scratch/slow", "/scratch/a/usr",
                                          "/scratch/b/usr"};
  ChrootRun ran;
  const bool in_time =
      swap_while_cleaning([&] { ran = chroot.run(elevated_request(paths, {"/scratch/b/usr"})); },
                          scratch / "sentinel", scratch / "slow",
                          [&] {
                            // Relative, so that the links lead to the throwaway root on the host
                            // too.
                            swap_for_link(scratch / "a", "..");
                            swap_for_link(scratch / "b", "..");
                          });
  EXPECT_TRUE(in_time) << "the helper finished the slow tree before the swap";
  EXPECT_EQ(ran.process.error, "");
  ASSERT_TRUE(ran.process.status.success()) << ran.process.status.to_string();
  EXPECT_EQ(decode_exact(ran.process.output),
            (CleanResult{{"/scratch/sentinel", "/scratch/slow"},
                         {{"/scratch/a/usr", "Path is forbidden: /scratch/a/usr"},
                          {"/scratch/b/usr", "Path is forbidden: /scratch/b/usr"}},
                         1 + kSlowFiles}));
  EXPECT_EQ(chroot.damaged_markers(), std::vector<std::string>{});
  EXPECT_TRUE(fs::exists(chroot.host_path("/usr/local")));
  EXPECT_EQ(read_file(scratch / "a.moved/usr/junk"), "jjj");
}

}  // namespace
}  // namespace sorvik_test
