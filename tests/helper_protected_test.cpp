// Entries the system refuses to remove even to root (SIP and the uchg and schg flags on macOS,
// the immutable attribute standing in for them on Linux), with the real helper: each is its
// path's error, with the system's text, and the bytes credited are those that actually went.
#include <gtest/gtest.h>

#include <filesystem>

#include "sorvik_lib/types/wire.hpp"
#include "support/file_tree.hpp"
#include "support/helper_process.hpp"
#include "support/immutable_file.hpp"

namespace sorvik_test {
namespace {

namespace fs = std::filesystem;
using sorvik_lib::types::CleanResult;

const std::string kRefused = "Operation not permitted (os error 1)";

TEST(HelperProtectedEntry, IsTheErrorOfItsPathAndWhatWentIsCredited) {
  TempDir dir;
  for (const char* folder : {"tree/deeper", "kept/deeper"}) {
    fs::create_directories(dir / folder);
    for (int i = 0; i < 20; ++i) write_file(dir / folder / std::to_string(i), "12345");
  }
  write_file(dir / "tree/deeper/protected", std::string(100, 'p'));
  write_file(dir / "kept/protected", std::string(100, 'p'));
  write_file(dir / "file", std::string(100, 'f'));
  const ImmutableFile in_tree(dir / "tree/deeper/protected");
  if (in_tree.unavailable()) GTEST_SKIP() << *in_tree.unavailable();
  const ImmutableFile in_kept(dir / "kept/protected");
  const ImmutableFile alone(dir / "file");

  const std::string tree = (dir / "tree").string();
  const std::string kept = (dir / "kept").string();
  const std::string file = (dir / "file").string();
  const auto ran = run_helper(elevated_request({tree, kept, file}, {kept}));
  EXPECT_EQ(ran.error, "");
  ASSERT_TRUE(ran.status.success()) << ran.status.to_string();
  const TreeCount tree_left = count_tree(dir / "tree");
  EXPECT_EQ(count_tree(dir / "kept").files, 1u);
  EXPECT_TRUE(fs::exists(dir / "tree/deeper/protected"));
  EXPECT_TRUE(fs::exists(dir / "file"));
  // The tree stops at the protected file: what went before it is credited, the rest stays.
  EXPECT_EQ(decode_exact(ran.output),
            (CleanResult{{kept},
                         {{tree, kRefused}, {kept + "/protected", kRefused}, {file, kRefused}},
                         (200 - tree_left.bytes) + 100}));
}

}  // namespace
}  // namespace sorvik_test
