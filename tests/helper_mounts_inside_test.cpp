// Other mounted filesystems inside what is cleaned, with the real helper and tool, in the test's
// own mount namespace: a tree holding one is refused whole, a kept root leaves the entry holding
// one whole and empties the rest, a removal that meets one stops before entering it, and nothing
// outside the requested paths changes. Also: kept roots match exactly what they name.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "sorvik_lib/cleaner/tree_operations.hpp"
#include "sorvik_lib/platform.hpp"
#include "sorvik_lib/sys/system_error.hpp"
#include "sorvik_lib/types/wire.hpp"
#include "support/file_tree.hpp"
#include "support/helper_process.hpp"
#include "support/private_mounts.hpp"

namespace sorvik_test {
namespace {

namespace fs = std::filesystem;
using sorvik_lib::types::CleanResult;
using sorvik_lib::types::ErrorEntry;

const std::string kBusy = sorvik_lib::sys::SystemError(EBUSY).message();

CleanResult clean(const std::vector<std::string>& paths,
                  const std::vector<std::string>& keep = {}) {
  const auto ran = run_helper(elevated_request(paths, keep));
  EXPECT_EQ(ran.error, "");
  EXPECT_TRUE(ran.status.success()) << ran.status.to_string();
  return decode_exact(ran.output);
}

// `sorvik clean` of `paths` keeping `keep`, as the result it prints.
nlohmann::json clean_with_tool(std::vector<std::string> paths, const std::vector<std::string>& keep,
                               bool dry_run) {
  paths.insert(paths.begin(), "clean");
  if (dry_run) paths.insert(paths.begin() + 1, "--dry-run");
  for (const std::string& kept : keep) paths.insert(paths.end(), {"--keep", kept});
  const auto ran = run(kCliPath, std::move(paths));
  nlohmann::json document = nlohmann::json::parse(ran.output, nullptr, false);
  EXPECT_FALSE(document.is_discarded()) << ran.output << ran.error;
  if (document.is_discarded()) return document;
  return {document["removed"], document["errors"], document["bytesFreed"]};
}

class MountsInside : public testing::Test {
 protected:
  void SetUp() override {
    if (mounts_.unavailable()) GTEST_SKIP() << *mounts_.unavailable();
  }

  // A fresh tmpfs at `at` (created) holding one file of `bytes` bytes.
  void mount_volume(const fs::path& at, std::size_t bytes) {
    fs::create_directories(at);
    ASSERT_TRUE(mounts_.mount_tmpfs(at)) << *mounts_.unavailable();
    write_file(at / "volume-file", std::string(bytes, 'v'));
  }

  void bind(const fs::path& source, const fs::path& target) {
    fs::create_directories(target);
    ASSERT_TRUE(mounts_.bind(source, target)) << *mounts_.unavailable();
  }

  std::string path(std::string_view name) const { return (dir_ / name).string(); }

  // Declared first, so that it is removed after everything is unmounted.
  TempDir dir_;
  PrivateMounts mounts_;
};

TEST_F(MountsInside, ATreeHoldingAnotherFilesystemIsRefusedWholeBeforeAnythingGoes) {
  fs::create_directories(dir_ / "t/deep");
  write_file(dir_ / "t/own", std::string(10, 'o'));
  mount_volume(dir_ / "t/deep/volume", 50);
  // A folder of another volume shown inside the tree by a bind mount.
  mount_volume(dir_ / "elsewhere", 0);
  fs::create_directories(dir_ / "elsewhere/precious");
  write_file(dir_ / "elsewhere/precious/data", std::string(300, 'p'));
  fs::create_directories(dir_ / "u");
  write_file(dir_ / "u/own", std::string(20, 'o'));
  bind(dir_ / "elsewhere/precious", dir_ / "u/view");

  EXPECT_EQ(clean({path("t"), path("u")}),
            (CleanResult{{}, {{path("t"), kBusy}, {path("u"), kBusy}}, 0}));
  EXPECT_EQ(count_tree(dir_ / "t").bytes, 60u);
  EXPECT_EQ(count_tree(dir_ / "elsewhere/precious").bytes, 300u);
  EXPECT_EQ(read_file(dir_ / "u/own"), std::string(20, 'o'));

  // The tool's preview and its run say the same, and leave the same.
  for (const bool dry_run : {true, false}) {
    EXPECT_EQ(clean_with_tool({path("t"), path("u")}, {}, dry_run),
              nlohmann::json({nlohmann::json::array(),
                              {{{"path", path("t")}, {"message", kBusy}},
                               {{"path", path("u")}, {"message", kBusy}}},
                              0}));
  }
  EXPECT_EQ(count_tree(dir_ / "t").bytes, 60u);
  EXPECT_EQ(count_tree(dir_ / "elsewhere/precious").bytes, 300u);
}

TEST_F(MountsInside, AKeptRootLeavesTheEntriesHoldingOneWholeAndEmptiesTheRest) {
  const fs::path kept = dir_ / "kept";
  fs::create_directories(kept / "sub");
  write_file(kept / "loose", std::string(10, 'l'));
  write_file(kept / "sub/beside", std::string(5, 'b'));
  mount_volume(kept / "sub/volume", 40);
  mount_volume(kept / "volume", 7);
  const std::vector<ErrorEntry> held = {{path("kept/sub"), kBusy}, {path("kept/volume"), kBusy}};
  const auto sorted = [](std::vector<ErrorEntry> errors) {
    std::ranges::sort(errors, {}, &ErrorEntry::path);
    return errors;
  };

  // The preview first: the same entries, the same bytes.
  const nlohmann::json preview = clean_with_tool({kept.string()}, {kept.string()}, true);
  EXPECT_EQ(preview[0], nlohmann::json::array({kept.string()}));
  EXPECT_EQ(preview[1].size(), 2u);
  EXPECT_EQ(preview[2], 10);

  const CleanResult result = clean({kept.string()}, {kept.string()});
  EXPECT_EQ(result.removed, std::vector<std::string>{kept.string()});
  EXPECT_EQ(sorted(result.errors), held);
  EXPECT_EQ(result.bytesFreed, 10u);
  EXPECT_FALSE(fs::exists(kept / "loose"));
  EXPECT_EQ(read_file(kept / "sub/beside"), std::string(5, 'b'));
  EXPECT_EQ(count_tree(kept / "sub/volume").bytes, 40u);
  EXPECT_EQ(count_tree(kept / "volume").bytes, 7u);
}

TEST_F(MountsInside, ARemovalThatMeetsAMountStopsBeforeEnteringIt) {
  // The library's removal alone, with no screening before it.
  fs::create_directories(dir_ / "t/a");
  write_file(dir_ / "t/a/file", std::string(3, 'a'));
  mount_volume(dir_ / "t/a/volume", 30);
  const auto removed = sorvik_lib::cleaner::remove_tree(path("t"));
  ASSERT_TRUE(removed.error);
  EXPECT_EQ(removed.error->number(), EBUSY);
  EXPECT_EQ(count_tree(dir_ / "t/a/volume").bytes, 30u);
}

TEST_F(MountsInside, ABindMountOfTheSameFilesystemIsAMountToo) {
  if (!SORVIK_HAS_STATX_MOUNT_ROOT) {
    GTEST_SKIP() << "this build tells the root of a mount by its device alone, as macOS does";
  }
  fs::create_directories(dir_ / "real");
  write_file(dir_ / "real/data", std::string(20, 'r'));
  bind(dir_ / "real", dir_ / "alias");
  fs::create_directories(dir_ / "t");
  bind(dir_ / "real", dir_ / "t/inside");

  // Named as the path, it is the root of a mount; inside a tree, the tree holds one.
  EXPECT_EQ(
      clean({path("alias"), path("t")}),
      (CleanResult{
          {}, {{path("t"), kBusy}, {path("alias"), "Path is forbidden: " + path("alias")}}, 0}));
  EXPECT_EQ(read_file(dir_ / "real/data"), std::string(20, 'r'));
}

// A relative kept root is read from nowhere but its own text, wherever the helper was started.
TEST(KeptRootsExactly, ARelativeKeptRootMatchesItsOwnTextAlone) {
  TempDir dir;
  fs::create_directories(dir / "x/k");
  write_file(dir / "x/k/file", std::string(4, 'f'));
  const std::string kept = (dir / "x/k").string();
  const auto ran =
      run("env", {"-C", dir.path().string(), kHelperPath}, elevated_request({kept}, {"x/k"}));
  EXPECT_EQ(decode_exact(ran.output), (CleanResult{{kept}, {}, 4}));
  EXPECT_FALSE(fs::exists(dir / "x/k"));
}

// A kept root that is a link, named by the path through a link above it: emptied through it.
TEST(KeptRootsExactly, AKeptLinkNamedAnotherWayIsEmptiedThrough) {
  TempDir dir;
  fs::create_directories(dir / "target/sub");
  write_file(dir / "target/sub/file", std::string(9, 't'));
  fs::create_directories(dir / "real");
  fs::create_directory_symlink(dir / "target", dir / "real/link");
  fs::create_directory_symlink("real", dir / "alias");
  const std::string other_name = (dir / "alias/link").string();
  EXPECT_EQ(clean({other_name}, {(dir / "real/link").string()}),
            (CleanResult{{other_name}, {}, 9}));
  EXPECT_TRUE(fs::is_symlink(dir / "real/link"));
  EXPECT_TRUE(fs::is_directory(dir / "target"));
  EXPECT_TRUE(fs::is_empty(dir / "target"));
}

}  // namespace
}  // namespace sorvik_test
