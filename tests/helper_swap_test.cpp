// A request's path swapped for a link to a victim tree after the helper has screened it: the
// helper must notice, or remove the link as a link, and never clean the victim.
#include <gtest/gtest.h>

#include <filesystem>

#include "sorvik_lib/types/wire.hpp"
#include "support/helper_process.hpp"
#include "support/path_swap.hpp"

namespace sorvik_test {
namespace {

namespace fs = std::filesystem;
using sorvik_lib::types::CleanResult;
using sorvik_lib::types::ErrorEntry;

constexpr int kSlowFiles = 3000;

class HelperSwap : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ / "victim/child/deeper");
    write_file(dir_ / "victim/precious", std::string(64, 'p'));
    write_file(dir_ / "victim/child/deeper/precious", std::string(32, 'p'));
    write_file(dir_ / "sentinel", "s");
    make_slow_tree(dir_ / "slow", kSlowFiles);
  }

  [[nodiscard]] std::string path(std::string_view name) const { return (dir_ / name).string(); }

  // The helper cleans the sentinel, the slow tree, then `paths`, keeping `keep`; `swap` runs
  // between screening and cleaning. Fails the test when the swap came too late to prove anything.
  CleanResult clean_with_swap(std::vector<std::string> paths, std::vector<std::string> keep,
                              const std::function<void()>& swap) {
    paths.insert(paths.begin(), {path("sentinel"), path("slow")});
    sorvik_lib::sys::ProcessResult ran;
    const bool in_time =
        swap_while_cleaning([&] { ran = run_helper(elevated_request(paths, keep)); },
                            dir_ / "sentinel", dir_ / "slow", swap);
    EXPECT_TRUE(in_time) << "the helper finished the slow tree before the swap";
    EXPECT_EQ(ran.error, "");
    EXPECT_TRUE(ran.status.success()) << ran.status.to_string();
    return decode_exact(ran.output);
  }

  void expect_victim_whole() const {
    EXPECT_EQ(read_file(dir_ / "victim/precious"), std::string(64, 'p'));
    EXPECT_EQ(read_file(dir_ / "victim/child/deeper/precious"), std::string(32, 'p'));
  }

  TempDir dir_{fast_temp_directory()};
};

TEST_F(HelperSwap, AKeptRootSwappedForALinkIsRefusedAndNotEmptied) {
  fs::create_directories(dir_ / "kept");
  write_file(dir_ / "kept/junk", "jjj");
  const auto result = clean_with_swap({path("kept")}, {path("kept")},
                                      [&] { swap_for_link(dir_ / "kept", dir_ / "victim"); });
  EXPECT_EQ(
      result,
      (CleanResult{{path("sentinel"), path("slow")},
                   {{path("kept"), "Path changed while it was being cleaned: " + path("kept")}},
                   1 + kSlowFiles}));
  expect_victim_whole();
  EXPECT_EQ(read_file(dir_ / "kept.moved/junk"), "jjj");
}

TEST_F(HelperSwap, APathBelowASwappedComponentIsRefused) {
  fs::create_directories(dir_ / "parent/child");
  write_file(dir_ / "parent/child/junk", "jjj");
  write_file(dir_ / "parent/precious", "mine");
  write_file(dir_ / "victim/child/precious", "theirs");
  fs::create_directories(dir_ / "other/child");
  // Removed whole, a file removed, and kept, all reached through a swapped component.
  const auto result =
      clean_with_swap({path("parent/child"), path("parent/precious"), path("other/child")},
                      {path("other/child")}, [&] {
                        swap_for_link(dir_ / "parent", dir_ / "victim");
                        swap_for_link(dir_ / "other", dir_ / "victim");
                      });
  const std::string changed = "Path changed while it was being cleaned: ";
  EXPECT_EQ(result, (CleanResult{{path("sentinel"), path("slow")},
                                 {{path("parent/child"), changed + path("parent/child")},
                                  {path("parent/precious"), changed + path("parent/precious")},
                                  {path("other/child"), changed + path("other/child")}},
                                 1 + kSlowFiles}));
  expect_victim_whole();
  EXPECT_EQ(read_file(dir_ / "victim/child/precious"), "theirs");
  EXPECT_EQ(read_file(dir_ / "parent.moved/child/junk"), "jjj");
}

// Even the link alone is not what was screened: it stays, and the path is reported changed.
TEST_F(HelperSwap, ADirectorySwappedForALinkIsRefusedAndTheLinkStays) {
  fs::create_directories(dir_ / "tree");
  write_file(dir_ / "tree/junk", "jjj");
  const auto result =
      clean_with_swap({path("tree")}, {}, [&] { swap_for_link(dir_ / "tree", dir_ / "victim"); });
  EXPECT_EQ(
      result,
      (CleanResult{{path("sentinel"), path("slow")},
                   {{path("tree"), "Path changed while it was being cleaned: " + path("tree")}},
                   1 + kSlowFiles}));
  EXPECT_TRUE(fs::is_symlink(dir_ / "tree"));
  expect_victim_whole();
}

}  // namespace
}  // namespace sorvik_test
