// What a path names rather than how it is spelled, with the real helper: a kept root reached by a
// second name (a link above it, a bind mount) is emptied, a link named as the path is removed as
// a link, and the root of a mounted filesystem is refused whole unless it is a kept root.
#include <gtest/gtest.h>

#include <filesystem>

#include "sorvik_lib/types/wire.hpp"
#include "support/file_tree.hpp"
#include "support/helper_process.hpp"
#include "support/private_mounts.hpp"

namespace sorvik_test {
namespace {

namespace fs = std::filesystem;
using sorvik_lib::types::CleanResult;

CleanResult clean(const std::vector<std::string>& paths, const std::vector<std::string>& keep) {
  const auto ran = run_helper(elevated_request(paths, keep));
  EXPECT_EQ(ran.error, "");
  EXPECT_TRUE(ran.status.success()) << ran.status.to_string();
  return decode_exact(ran.output);
}

// A kept root holding 30 bytes in two files, one of them in a folder.
fs::path make_kept(const fs::path& root) {
  fs::create_directories(root / "sub");
  write_file(root / "a", std::string(10, 'a'));
  write_file(root / "sub/b", std::string(20, 'b'));
  return root;
}

TEST(HelperKeptRootIdentity, ASecondNameThroughALinkAboveIsEmptiedNotRemoved) {
  TempDir dir;
  const fs::path kept = make_kept(dir / "real/kept");
  fs::create_directory_symlink("real", dir / "alias");
  const std::string other_name = (dir / "alias/kept").string();
  EXPECT_EQ(clean({other_name}, {kept.string()}), (CleanResult{{other_name}, {}, 30}));
  EXPECT_TRUE(fs::is_directory(kept));
  EXPECT_TRUE(fs::is_empty(kept));

  // And the other way round: the kept root spelled through the link, the path by its own name.
  make_kept(kept);
  EXPECT_EQ(clean({kept.string()}, {other_name}), (CleanResult{{kept.string()}, {}, 30}));
  EXPECT_TRUE(fs::is_directory(kept));
  EXPECT_TRUE(fs::is_empty(kept));
}

TEST(HelperKeptRootIdentity, ALinkNamedAsThePathIsRemovedAsALink) {
  TempDir dir;
  const fs::path kept = make_kept(dir / "kept");
  fs::create_directory_symlink(kept, dir / "link");
  const std::string link = (dir / "link").string();
  EXPECT_EQ(clean({link, link + "/"}, {kept.string()}), (CleanResult{{link}, {}, 0}));
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "link")));
  EXPECT_EQ(count_tree(kept).bytes, 30u);
}

TEST(HelperKeptRootIdentity, ABindMountOfAKeptRootIsEmptiedNotRemoved) {
  // The folder first, so that its mounts are gone before it is removed.
  TempDir dir;
  PrivateMounts mounts;
  if (mounts.unavailable()) GTEST_SKIP() << *mounts.unavailable();
  const fs::path kept = make_kept(dir / "kept");
  fs::create_directory(dir / "view");
  ASSERT_TRUE(mounts.bind(kept, dir / "view")) << *mounts.unavailable();
  const std::string view = (dir / "view").string();
  EXPECT_EQ(clean({view}, {kept.string()}), (CleanResult{{view}, {}, 30}));
  EXPECT_TRUE(fs::is_empty(kept));
  EXPECT_TRUE(fs::is_directory(dir / "view"));
}

// A tmpfs holding 60 bytes: removing its root would empty it and then fail on the mount point.
TEST(HelperMountRoot, TheRootOfAMountedFilesystemIsRefusedBeforeAnythingGoes) {
  // The folder first, so that its mounts are gone before it is removed.
  TempDir dir;
  PrivateMounts mounts;
  if (mounts.unavailable()) GTEST_SKIP() << *mounts.unavailable();
  fs::create_directory(dir / "volume");
  ASSERT_TRUE(mounts.mount_tmpfs(dir / "volume")) << *mounts.unavailable();
  fs::create_directory(dir / "volume/inside");
  write_file(dir / "volume/inside/data", std::string(60, 'd'));
  fs::create_directory_symlink(dir / "volume", dir / "link");
  const std::string volume = (dir / "volume").string();
  const std::string link = (dir / "link").string();
  const std::string inside = (dir / "volume/inside").string();

  // The link to it goes as a link; a folder inside it is an ordinary path.
  EXPECT_EQ(clean({volume, volume + "/", link, inside}, {}),
            (CleanResult{{link, inside},
                         {{volume, "Path is forbidden: " + volume},
                          {volume + "/", "Path is forbidden: " + volume + "/"}},
                         60}));
  EXPECT_TRUE(fs::exists(dir / "volume"));

  // As a kept root it is emptied, and stays mounted.
  write_file(dir / "volume/again", std::string(60, 'a'));
  EXPECT_EQ(clean({volume}, {volume}), (CleanResult{{volume}, {}, 60}));
  EXPECT_TRUE(fs::is_empty(dir / "volume"));
}

}  // namespace
}  // namespace sorvik_test
