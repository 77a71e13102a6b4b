// Byte counts past the largest 64-bit value, end to end: sparse files whose lengths add up to more
// than 2^64 are credited as the largest value by the helper and by `sorvik clean`, never wrapped.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/helper_process.hpp"

namespace sorvik_test {
namespace {

constexpr std::uint64_t kLargest = UINT64_MAX;
constexpr off_t kLongest = INT64_MAX;  // 2^63 - 1

// A sparse file of `size` bytes; false when the filesystem will not hold one that long.
bool make_sparse_file(const std::filesystem::path& path, off_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool made = ::ftruncate(fd, size) == 0;
  ::close(fd);
  return made;
}

class SaturatedSums : public testing::Test {
 protected:
  // Two files of 2^63 - 1 bytes and one of 2 under "tree": 2^64 + 1 bytes in all, which a
  // wrapping sum would credit as 1 (or 0, counted in another order).
  void SetUp() override {
    std::filesystem::create_directory(dir_ / "tree");
    for (const char* name : {"a", "b"}) {
      if (!make_sparse_file(dir_ / "tree" / name, kLongest)) {
        GTEST_SKIP() << "the filesystem of " << dir_.path() << " holds no file of 2^63 - 1 bytes";
      }
    }
    ASSERT_TRUE(make_sparse_file(dir_ / "tree" / "c", 2));
  }

  [[nodiscard]] std::string path(const char* name) const { return (dir_ / name).string(); }

  TempDir dir_{fast_temp_directory()};
};

TEST_F(SaturatedSums, TheHelperCreditsTheLargestValue) {
  // The files one by one, each credited on its own and summed.
  auto run = run_helper(elevated_request({path("tree/a"), path("tree/c"), path("tree/b")}));
  auto result = decode_exact(run.output);
  EXPECT_EQ(result.errors.size(), 0u);
  EXPECT_EQ(result.bytesFreed, kLargest);

  // A tree measured whole, removed and emptied as a kept root.
  for (const bool kept : {true, false}) {
    for (const char* name : {"a", "b"})
      ASSERT_TRUE(make_sparse_file(dir_ / "tree" / name, kLongest));
    ASSERT_TRUE(make_sparse_file(dir_ / "tree" / "c", 2));
    run = run_helper(kept ? elevated_request({path("tree")}, {path("tree")})
                          : elevated_request({path("tree")}));
    result = decode_exact(run.output);
    EXPECT_EQ(result.removed, std::vector<std::string>{path("tree")});
    EXPECT_EQ(result.bytesFreed, kLargest) << (kept ? "kept" : "removed");
    EXPECT_EQ(std::filesystem::exists(dir_ / "tree"), kept);
  }
}

TEST_F(SaturatedSums, TheToolShowsTheLargestValue) {
  for (const bool dry_run : {true, false}) {
    std::vector<std::string> arguments = {"clean", "--json", path("tree")};
    if (dry_run) arguments.push_back("--dry-run");
    const auto run = sorvik_test::run(kCliPath, arguments);
    EXPECT_EQ(run.status.value, 0) << run.output << run.error;
    const auto document = nlohmann::json::parse(run.output, nullptr, false);
    ASSERT_FALSE(document.is_discarded()) << run.output;
    EXPECT_EQ(document["bytesFreed"].get<std::uint64_t>(), kLargest) << run.output;
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ / "tree"));
}

}  // namespace
}  // namespace sorvik_test
