// Paths too long for the system's path calls, end to end: the helper and `sorvik clean` report
// them with the system's reason, once, and leave what lies there untouched.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <nlohmann/json.hpp>
#include <string>

#include "sorvik_lib/cleaner/tree_operations.hpp"
#include "sorvik_lib/sys/system_error.hpp"
#include "support/helper_process.hpp"

namespace sorvik_test {
namespace {

using sorvik_lib::types::CleanResult;

constexpr int kLevels = 20;
const std::string kLongName(255, 'l');

// "File name too long (os error 36)" on Linux, 63 on macOS.
std::string too_long_message() { return sorvik_lib::sys::SystemError(ENAMETOOLONG).message(); }

// `top` holding kLevels directories of 255-byte names, one inside the other, each with a file of
// 10 bytes "f": made through handles, since the deeper paths cannot be named. Returns the path of
// the deepest directory, longer than the system's path calls take.
std::string make_deep_tree(const std::string& top) {
  EXPECT_EQ(::mkdir(top.c_str(), 0755), 0);
  int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  std::string deepest = top;
  for (int level = 0; level < kLevels && fd >= 0; ++level) {
    EXPECT_EQ(::mkdirat(fd, kLongName.c_str(), 0755), 0);
    const int next = ::openat(fd, kLongName.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::close(fd);
    fd = next;
    const int file = ::openat(fd, "f", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    EXPECT_EQ(::write(file, "0123456789", 10), 10);
    ::close(file);
    deepest += "/" + kLongName;
  }
  ::close(fd);
  EXPECT_GT(deepest.size(), static_cast<std::size_t>(PATH_MAX));
  return deepest;
}

// How many levels of the tree still hold their directory and its file, walked through handles.
int levels_left(const std::string& top) {
  int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  int levels = 0;
  while (fd >= 0) {
    const int next = ::openat(fd, kLongName.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::close(fd);
    fd = next;
    struct stat status {};
    if (fd < 0 || ::fstatat(fd, "f", &status, AT_SYMLINK_NOFOLLOW) != 0 || status.st_size != 10) {
      break;
    }
    ++levels;
  }
  if (fd >= 0) ::close(fd);
  return levels;
}

class LongPaths : public testing::Test {
 protected:
  void SetUp() override {
    top_ = (dir_ / "deep").string();
    deepest_ = make_deep_tree(top_);
  }
  // The tree is deeper than the system's path calls reach; the cleaner's own removal goes
  // through handles.
  void TearDown() override { (void)sorvik_lib::cleaner::remove_tree(top_); }

  TempDir dir_;
  std::string top_;
  std::string deepest_;
};

TEST_F(LongPaths, TheHelperReportsThemOnceAndTouchesNothing) {
  const std::string file = deepest_ + "/f";
  // A component longer than any name cannot exist, and is reported the same way.
  const std::string long_component = dir_.path().string() + "/" + std::string(300, 'n');
  const auto run = run_helper(elevated_request({deepest_, file, long_component}));
  EXPECT_EQ(run.error, "");
  EXPECT_EQ(decode_exact(run.output), (CleanResult{{},
                                                   {{deepest_, too_long_message()},
                                                    {file, too_long_message()},
                                                    {long_component, too_long_message()}},
                                                   0}));
  EXPECT_EQ(levels_left(top_), kLevels);
}

TEST_F(LongPaths, TheToolReportsThemAsTheHelperDoes) {
  for (const bool dry_run : {true, false}) {
    std::vector<std::string> arguments = {"clean", "--json", deepest_};
    if (dry_run) arguments.push_back("--dry-run");
    const auto run = sorvik_test::run(kCliPath, arguments);
    EXPECT_EQ(run.error, "");
    EXPECT_EQ(run.status.value, 1) << run.output;
    const auto document = nlohmann::json::parse(run.output, nullptr, false);
    ASSERT_FALSE(document.is_discarded()) << run.output;
    EXPECT_EQ(document["removed"], nlohmann::json::array());
    EXPECT_EQ(document["errors"],
              nlohmann::json::array({{{"path", deepest_}, {"message", too_long_message()}}}));
    EXPECT_EQ(document["bytesFreed"], 0);
    EXPECT_EQ(levels_left(top_), kLevels);
  }
  // The tree above the long paths is cleaned as any other, through handles all the way down.
  const auto run = sorvik_test::run(kCliPath, {"clean", "--json", top_});
  EXPECT_EQ(run.status.value, 0) << run.output;
  EXPECT_EQ(levels_left(top_), 0);
}

}  // namespace
}  // namespace sorvik_test
