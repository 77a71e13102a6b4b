// Directories whose listing misses entries while they are emptied, as on APFS and HFS+: the real
// helper runs with a preloaded stand-in that makes every listing read after a deletion leave out
// every second entry, and must still remove every tree and empty every kept root it is given.
// The stand-in works at the level the helper lists at (getdents64, or readdir in a portable
// build), and a test checks that it is that level the helper used.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "sorvik_lib/platform.hpp"
#include "sorvik_lib/types/wire.hpp"
#include "support/file_tree.hpp"
#include "support/helper_process.hpp"

namespace sorvik_test {
namespace {

namespace fs = std::filesystem;
using sorvik_lib::types::CleanResult;

#if defined(SORVIK_LISTING_SKIPPER_PATH)
constexpr const char* kStandIn = SORVIK_LISTING_SKIPPER_PATH;
#else
constexpr const char* kStandIn = nullptr;
#endif

class HelperRelisting : public ::testing::Test {
 protected:
  void SetUp() override {
    if (kStandIn == nullptr) {
      GTEST_SKIP() << "the listing stand-in is preloaded with LD_PRELOAD, on Linux only";
    }
  }
};

// `count` files of `bytes` each in `directory`, with names long enough that a listing batch of
// the stand-in holds only a handful.
std::uint64_t fill(const fs::path& directory, int count, std::size_t bytes) {
  fs::create_directories(directory);
  for (int i = 0; i < count; ++i) {
    write_file(directory / ("a-file-name-of-some-length-" + std::to_string(i)),
               std::string(bytes, 'x'));
  }
  return static_cast<std::uint64_t>(count) * bytes;
}

// The helper with the stand-in preloaded, and `extra` settings in its environment.
sorvik_lib::sys::ProcessResult run_with_stand_in(std::string_view request,
                                                 std::vector<std::string> extra = {}) {
  const char* sanitizer_options = std::getenv("ASAN_OPTIONS");
  std::vector<std::string> arguments = {
      std::string("LD_PRELOAD=") + kStandIn,
      // The stand-in comes before a sanitizer runtime, which would otherwise refuse to run.
      std::string("ASAN_OPTIONS=") + (sanitizer_options ? sanitizer_options : "") +
          ":verify_asan_link_order=0"};
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  arguments.push_back(kHelperPath);
  return run("env", std::move(arguments), request);
}

// Which listing calls the stand-in saw while the helper cleaned a small tree.
struct ListingCalls {
  unsigned long getdents64 = 0;
  unsigned long readdir = 0;
};

TEST_F(HelperRelisting, TheStandInSeesTheListingCallsThisBuildMakes) {
  TempDir dir(fast_temp_directory());
  fill(dir / "tree/sub", 20, 1);
  const fs::path calls_file = dir / "calls";
  const auto ran = run_with_stand_in(elevated_request({(dir / "tree").string()}),
                                     {"SORVIK_LISTING_CALLS=" + calls_file.string()});
  ASSERT_TRUE(ran.status.success()) << ran.status.to_string();
  EXPECT_FALSE(fs::exists(dir / "tree"));
  std::istringstream counted(read_file(calls_file));
  std::string getdents_label, readdir_label;
  ListingCalls calls;
  ASSERT_TRUE(counted >> getdents_label >> calls.getdents64 >> readdir_label >> calls.readdir)
      << counted.str();
  // A build that lists through the other level would leave the re-listing tests proving nothing.
  if (SORVIK_HAS_GETDENTS64) {
    EXPECT_GT(calls.getdents64, 0u);
    EXPECT_EQ(calls.readdir, 0u);
  } else {
    EXPECT_GT(calls.readdir, 0u);
    EXPECT_EQ(calls.getdents64, 0u);
  }
}

TEST_F(HelperRelisting, ListingsThatMissEntriesAreReadAgainUntilNothingIsLeft) {
  TempDir dir(fast_temp_directory());
  std::uint64_t total = fill(dir / "tree", 150, 10);
  for (const char* sub : {"tree/a", "tree/b/deeper", "kept/sub"}) total += fill(dir / sub, 120, 3);
  total += fill(dir / "kept", 200, 7);

  const auto ran = run_with_stand_in(elevated_request(
      {(dir / "tree").string(), (dir / "kept").string()}, {(dir / "kept").string()}));
  EXPECT_EQ(ran.error, "");
  ASSERT_TRUE(ran.status.success()) << ran.status.to_string();
  EXPECT_EQ(decode_exact(ran.output),
            (CleanResult{{(dir / "tree").string(), (dir / "kept").string()}, {}, total}));
  EXPECT_FALSE(fs::exists(dir / "tree"));
  EXPECT_TRUE(fs::is_empty(dir / "kept"));
}

// A listing that fails part-way leaves entries behind: the path fails, and exactly what went is
// credited, for a tree and for a kept root alike.
TEST_F(HelperRelisting, AListingThatFailsPartWayIsAFailureThatCreditsWhatWent) {
  TempDir dir(fast_temp_directory());
  fill(dir / "tree", 200, 5);
  fill(dir / "kept", 200, 7);
  const auto ran =
      run_with_stand_in(elevated_request({(dir / "tree").string(), (dir / "kept").string()},
                                         {(dir / "kept").string()}),
                        {"SORVIK_LISTING_FAILS=1"});
  EXPECT_EQ(ran.error, "");
  ASSERT_TRUE(ran.status.success()) << ran.status.to_string();
  const std::uint64_t tree_gone = 200 - count_tree(dir / "tree").files;
  const std::uint64_t kept_gone = 200 - count_tree(dir / "kept").files;
  ASSERT_GT(kept_gone, 0u);
  const std::string failed = "Input/output error (os error 5)";
  EXPECT_EQ(decode_exact(ran.output),
            (CleanResult{{(dir / "kept").string()},
                         {{(dir / "tree").string(), failed}, {(dir / "kept").string(), failed}},
                         tree_gone * 5 + kept_gone * 7}));
}

}  // namespace
}  // namespace sorvik_test
