// Elevated cleans carried out by the real helper process on trees made under fresh temporary
// directories: screening, removal, kept roots, and the order of what the result reports.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "sorvik_lib/types/wire.hpp"
#include "support/helper_process.hpp"

namespace sorvik_test {
namespace {

using sorvik_lib::types::CleanResult;
using sorvik_lib::types::ErrorEntry;

bool exists_no_follow(const std::filesystem::path& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0;
}

CleanResult clean_through_helper(const sorvik_lib::sys::ProcessResult& run) {
  EXPECT_EQ(run.error, "");
  EXPECT_TRUE(run.status.success()) << run.status.to_string();
  return decode_exact(run.output);
}

TEST(HelperClean, CleansASampleTreeAndReportsRefusalsLast) {
  TempDir dir;
  const auto path = [&](std::string_view name) { return (dir / name).string(); };
  write_file(dir / "report.log", std::string(5000, 'r'));
  std::filesystem::create_directories(dir / "cache/blobs/a");
  write_file(dir / "cache/blobs/a/one.bin", std::string(1200, 'x'));
  std::filesystem::create_directories(dir / "elsewhere");
  write_file(dir / "elsewhere/precious", std::string(99, 'p'));
  std::filesystem::create_directory_symlink(dir / "elsewhere", dir / "cache/blobs/link");
  std::filesystem::create_directories(dir / "kept/sub");
  write_file(dir / "kept/sub/entry.tmp", std::string(300, 'k'));
  write_file(dir / "kept-file", "not a directory");

  const auto result = clean_through_helper(run_helper(
      elevated_request({"relative/path", path("report.log"), path("cache"), path("missing"),
                        path("kept"), path("kept-file"), path("cache") + "/../elsewhere", "/usr"},
                       {path("kept") + "/", path("kept-file")})));

  EXPECT_EQ(result.removed,
            (std::vector<std::string>{path("report.log"), path("cache"), path("kept")}));
  EXPECT_EQ(result.bytesFreed, 5000u + 1200u + 300u);
  // The cleaner's own entries first, then the refusals in request order.
  EXPECT_EQ(result.errors, (std::vector<ErrorEntry>{
                               {path("kept-file"), "Not a directory (os error 20)"},
                               {"relative/path", "Path is not absolute: relative/path"},
                               {path("cache") + "/../elsewhere",
                                "Path contains traversal: " + path("cache") + "/../elsewhere"},
                               {"/usr", "Path is forbidden: /usr"}}));
  EXPECT_FALSE(exists_no_follow(dir / "report.log"));
  EXPECT_FALSE(exists_no_follow(dir / "cache"));
  EXPECT_TRUE(std::filesystem::is_empty(dir / "kept"));
  EXPECT_TRUE(exists_no_follow(dir / "kept-file"));
  EXPECT_EQ(read_file(dir / "elsewhere/precious"), std::string(99, 'p'));
}

TEST(HelperClean, ALinkGivenAsAPathGoesAloneAndCreditsNothing) {
  TempDir dir;
  std::filesystem::create_directories(dir / "target");
  write_file(dir / "target/big", std::string(4096, 'b'));
  std::filesystem::create_directory_symlink(dir / "target", dir / "link");
  const auto result = clean_through_helper(run_helper(elevated_request({(dir / "link").string()})));
  EXPECT_EQ(result, (CleanResult{{(dir / "link").string()}, {}, 0}));
  EXPECT_FALSE(exists_no_follow(dir / "link"));
  EXPECT_TRUE(exists_no_follow(dir / "target/big"));
  // A trailing separator would make the system resolve the link; it still goes alone.
  std::filesystem::create_directory_symlink(dir / "target", dir / "link");
  const std::string spelled = (dir / "link").string() + "/./";
  EXPECT_EQ(clean_through_helper(run_helper(elevated_request({spelled}))),
            (CleanResult{{spelled}, {}, 0}));
  EXPECT_FALSE(exists_no_follow(dir / "link"));
  EXPECT_TRUE(exists_no_follow(dir / "target/big"));
}

TEST(HelperClean, ANonUtf8NameThatCannotBeDeletedStillReachesTheApplication) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the helper as another user";
  TempDir dir;
  // The helper runs as an unprivileged user, so it must be able to reach everything involved:
  // its own copy of the executable and a tree it owns, except for one locked directory.
  std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
  std::filesystem::copy_file(kHelperPath, dir / "sorvik_helper");
  std::filesystem::create_directories(dir / "kept");
  write_file(dir / "kept/gone\xFE", std::string(64, 'g'));
  const std::string locked = (dir / "kept").string() + "/locked\xFF";
  std::filesystem::create_directories(locked);
  write_file(std::filesystem::path(locked) / "stuck", "stuck");
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir / "kept")) {
    if (entry.path().string().starts_with(locked)) continue;
    ASSERT_EQ(::lchown(entry.path().c_str(), 65534, 65534), 0);
  }
  ASSERT_EQ(::lchown((dir / "kept").c_str(), 65534, 65534), 0);

  const std::string kept = (dir / "kept").string();
  const auto run = sorvik_test::run(
      "setpriv",
      {"--reuid=65534", "--regid=65534", "--clear-groups", (dir / "sorvik_helper").string()},
      elevated_request({kept}, {kept}));
  const auto result = clean_through_helper(run);
  EXPECT_EQ(result,
            (CleanResult{
                {kept}, {{kept + "/locked\xEF\xBF\xBD", "Permission denied (os error 13)"}}, 64}));
  EXPECT_FALSE(exists_no_follow(dir / "kept/gone\xFE"));
  EXPECT_TRUE(exists_no_follow(std::filesystem::path(locked) / "stuck"));
}

}  // namespace
}  // namespace sorvik_test
