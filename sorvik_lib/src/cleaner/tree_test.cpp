// Measuring and removing one path, and the walks below it: links, deep trees, few descriptors.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <utility>

#include "cleaner_test_support.hpp"
#include "progress_reporter.hpp"
#include "sorvik_lib/cleaner/tree_operations.hpp"
#include "sorvik_lib/sys/path_calls.hpp"
#include "tree_walk.hpp"

namespace sorvik_lib::cleaner {
namespace {

using namespace std::string_literals;
using testing::exists_no_follow;
using testing::make_dir;
using testing::make_file;
using testing::make_link;
using testing::TempDir;

TEST(TreeSize, SumsApparentLengthsOfRegularFilesOnly) {
  TempDir dir;
  make_dir(dir / "t/a/b");
  make_file(dir / "t/one", 100);
  make_file(dir / "t/a/two", 20);
  make_file(dir / "t/a/b/empty", 0);
  // A sparse file occupies almost nothing but counts its apparent length.
  make_file(dir / "t/a/b/sparse", 5'000'000'000, true);
  // Each hard link is its own entry and counts once per link.
  std::filesystem::create_hard_link(dir / "t/one", dir / "t/a/one-again");
  ASSERT_EQ(::mkfifo((dir / "t/a/fifo").c_str(), 0600), 0);
  EXPECT_EQ(measure_tree(dir / "t").bytes, 100 + 20 + 5'000'000'000ULL + 100);
  EXPECT_EQ(measure_tree(dir / "t/one").bytes, 100u);
  EXPECT_EQ(measure_tree(dir / "t/a/fifo").bytes, 0u);
  EXPECT_EQ(measure_tree(dir / "missing").bytes, 0u);
}

TEST(TreeSize, FollowsOnlyALinkAtTheStart) {
  TempDir dir;
  make_dir(dir / "outside");
  make_file(dir / "outside/big", 1000);
  make_dir(dir / "t");
  make_file(dir / "t/small", 7);
  make_link(dir / "outside", dir / "t/link-to-dir");
  make_link(dir / "outside/big", dir / "t/link-to-file");
  make_link(dir / "nowhere", dir / "t/dangling");
  EXPECT_EQ(measure_tree(dir / "t").bytes, 7u);
  make_link(dir / "t", dir / "start-link");
  EXPECT_EQ(measure_tree(dir / "start-link").bytes, 7u);
  make_link(dir / "outside/big", dir / "file-link");
  EXPECT_EQ(measure_tree(dir / "file-link").bytes, 0u);
}

TEST(TreeSize, APathWithANulByteNamesNothing) {
  TempDir dir;
  make_dir(dir / "t");
  make_file(dir / "t/f", 10);
  EXPECT_EQ(measure_tree(dir / "t" + "\0/f"s).bytes, 0u);
}

TEST(RemoveTree, RemovesEverythingButNeverWhatLinksPointTo) {
  TempDir dir;
  make_dir(dir / "outside/deeper");
  make_file(dir / "outside/deeper/keep", 3);
  make_dir(dir / "t/a/b");
  make_file(dir / "t/a/b/f", 3);
  make_link(dir / "outside", dir / "t/a/to-dir");
  make_link(dir / "outside/deeper/keep", dir / "t/to-file");
  make_link("..", dir / "t/a/b/up");
  ASSERT_TRUE(remove_tree(dir / "t").done());
  EXPECT_FALSE(exists_no_follow(dir / "t"));
  EXPECT_TRUE(exists_no_follow(dir / "outside/deeper/keep"));
}

TEST(RemoveTree, ALinkGivenAsTheTreeIsRemovedAlone) {
  TempDir dir;
  make_dir(dir / "target");
  make_file(dir / "target/f", 3);
  make_link(dir / "target", dir / "link");
  ASSERT_TRUE(remove_tree(dir / "link").done());
  EXPECT_FALSE(exists_no_follow(dir / "link"));
  EXPECT_TRUE(exists_no_follow(dir / "target/f"));
}

TEST(EmptyTree, AFileIsNotATreeAndAMissingPathIsNothing) {
  TempDir dir;
  make_file(dir / "f", 1);
  const auto emptied = empty_tree(dir / "f");
  ASSERT_TRUE(emptied.error);
  EXPECT_EQ(emptied.error->message(dir / "f"), "Not a directory (os error 20)");
  EXPECT_TRUE(exists_no_follow(dir / "f"));
  EXPECT_TRUE(empty_tree(dir / "missing").absent);
  EXPECT_TRUE(remove_tree(dir / "missing").absent);
}

// The tree operations refuse "/" whoever calls them. Run in a child confined to a throwaway root,
// so that even an operation that did not refuse could harm nothing but that.
TEST(RootRefused, RemovingOrEmptyingTheRootIsForbidden) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to confine the child with chroot";
  TempDir dir;
  make_file(dir / "marker", 1);
  make_dir(dir / "sub");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::chroot(dir.path().c_str()) != 0 || ::chdir("/") != 0) ::_exit(2);
    int refused = 0;
    for (const char* root : {"/", "//", "/.", "/sub/.."}) {
      for (const auto& outcome : {remove_tree(root), empty_tree(root)}) {
        refused += outcome.error && outcome.error->kind() == CleanError::Kind::Forbidden;
      }
    }
    ::_exit(refused == 8 ? 0 : 3);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_TRUE(exists_no_follow(dir / "marker"));
  EXPECT_TRUE(exists_no_follow(dir / "sub"));
}

TEST(RemovePath, FilesLinksAndDirectories) {
  TempDir dir;
  make_dir(dir / "target");
  make_file(dir / "target/f", 3);
  make_link(dir / "target", dir / "dir-link");
  make_link(dir / "target/f", dir / "file-link");
  make_link(dir / "nowhere", dir / "dangling");
  for (const char* name : {"dir-link", "file-link", "dangling"}) {
    ASSERT_TRUE(remove_tree(dir / name).done()) << name;
    EXPECT_FALSE(exists_no_follow(dir / name)) << name;
  }
  EXPECT_TRUE(exists_no_follow(dir / "target/f"));
  ASSERT_TRUE(remove_tree(dir / "target").done());
  EXPECT_FALSE(exists_no_follow(dir / "target"));
}

TEST(EntryPath, DropsWhatWouldResolveAFinalLink) {
  EXPECT_EQ(entry_path("/a/link/"), "/a/link");
  EXPECT_EQ(entry_path("/a/link//././/"), "/a/link");
  EXPECT_EQ(entry_path("/a/b.c/."), "/a/b.c");
  EXPECT_EQ(entry_path("/a/.."), "/a/..");
  EXPECT_EQ(entry_path("rel/"), "rel");
  EXPECT_EQ(entry_path("/"), "/");
  EXPECT_EQ(entry_path("//"), "/");
  EXPECT_EQ(entry_path("/."), "/.");
}

// A trailing separator makes lstat, and open with O_NOFOLLOW, go through a final link.
TEST(RemovePath, ALinkSpelledWithATrailingSeparatorGoesAsALink) {
  TempDir dir;
  make_dir(dir / "victim/sub");
  make_file(dir / "victim/sub/precious", 3);
  for (const char* spelling : {"link/", "link/.", "link//./"}) {
    make_link(dir / "victim", dir / "link");
    ASSERT_TRUE(remove_tree(dir / spelling).done()) << spelling;
    EXPECT_FALSE(exists_no_follow(dir / "link")) << spelling;
    make_link(dir / "victim", dir / "link");
    ASSERT_TRUE(remove_tree(dir / spelling).done()) << spelling;
    EXPECT_FALSE(exists_no_follow(dir / "link")) << spelling;
  }
  EXPECT_TRUE(exists_no_follow(dir / "victim/sub/precious"));
  // A real directory spelled that way is still removed whole.
  ASSERT_TRUE(remove_tree(dir / "victim/./").done());
  EXPECT_FALSE(exists_no_follow(dir / "victim"));
}

TEST(RemovePath, APathWithANulByteIsNeverCutShort) {
  TempDir dir;
  make_dir(dir / "t");
  make_file(dir / "t/f", 10);
  EXPECT_TRUE(remove_tree(dir / "t" + "\0/f"s).absent);
  EXPECT_TRUE(remove_tree(dir / "t" + "\0"s).absent);
  EXPECT_TRUE(exists_no_follow(dir / "t/f"));
}

// A chain of `depth` directories named "d" below `top`, with a file of `leaf_bytes` at the bottom
// and a one-byte file every 1000 levels. Built through handles: the paths are far too long.
std::uint64_t make_deep_chain(const std::string& top, int depth, std::uint64_t leaf_bytes) {
  make_dir(top);
  int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  std::uint64_t total = 0;
  for (int level = 0; level < depth && fd >= 0; ++level) {
    if (level % 1000 == 0) {
      const int file = ::openat(fd, "f", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
      EXPECT_EQ(::write(file, "x", 1), 1);
      ::close(file);
      ++total;
    }
    EXPECT_EQ(::mkdirat(fd, "d", 0755), 0);
    const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::close(fd);
    fd = next;
  }
  const int leaf = ::openat(fd, "leaf", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  const std::string bytes(leaf_bytes, 'z');
  EXPECT_EQ(::write(leaf, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  ::close(leaf);
  ::close(fd);
  return total + leaf_bytes;
}

constexpr int kDeepTree = 20'000;

TEST(DeepTree, TwentyThousandLevelsAreMeasuredAndRemoved) {
  TempDir dir(testing::fast_scratch_directory());
  const std::uint64_t expected = make_deep_chain(dir / "deep", kDeepTree, 12);
  EXPECT_EQ(measure_tree(dir / "deep").bytes, expected);
  ASSERT_TRUE(remove_tree(dir / "deep").done());
  EXPECT_FALSE(exists_no_follow(dir / "deep"));
}

// Lowest descriptor number not in use, which is how many the process holds in practice.
int lowest_free_descriptor() {
  const int fd = ::dup(0);
  ::close(fd);
  return fd;
}

// Measures and removes a deep tree in a child whose descriptor limit is `limit`; the exit status
// says which step went wrong.
int measure_and_remove_with_limit(const std::string& top, std::uint64_t expected, rlim_t limit) {
  const pid_t child = ::fork();
  if (child == 0) {
    const struct rlimit rl { limit, limit };
    if (::setrlimit(RLIMIT_NOFILE, &rl) != 0) ::_exit(2);
    if (measure_tree(top).bytes != expected) ::_exit(3);
    if (!remove_tree(top).done()) ::_exit(4);
    ::_exit(exists_no_follow(top) ? 5 : 0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

TEST(DeepTree, MeasuredAndRemovedWithOnlyThreeDescriptorsToSpare) {
  // Fewer free descriptors than the walk's own budget: it must give handles back and go on.
  TempDir dir;
  const std::uint64_t expected = make_deep_chain(dir / "deep", 200, 5);
  const auto limit = static_cast<rlim_t>(lowest_free_descriptor() + 3);
  EXPECT_EQ(measure_and_remove_with_limit(dir / "deep", expected, limit), 0);
}

// A tree wider and deeper than the descriptor budget with files at every level, so that listings
// are read ahead when handles are given back: each file must count exactly once.
TEST(DeepTree, EvictedListingsCountEveryFileOnce) {
  TempDir dir;
  std::string level = dir / "wide";
  std::uint64_t expected = 0;
  for (std::size_t depth = 0; depth < 3 * kMaxOpenDirectories; ++depth) {
    make_dir(level + "/side");
    make_file(level + "/side/s", depth + 1);
    for (int i = 0; i < 40; ++i) make_file(level + "/f" + std::to_string(i), 3);
    expected += depth + 1 + 40 * 3;
    level += "/next";
  }
  EXPECT_EQ(measure_tree(dir / "wide").bytes, expected);
  ASSERT_TRUE(remove_tree(dir / "wide").done());
  EXPECT_FALSE(exists_no_follow(dir / "wide"));
}

TEST(ReopenParent, RefusesADirectoryMovedElsewhere) {
  TempDir dir;
  make_dir(dir / "a/b");
  make_dir(dir / "c");
  struct stat a_status {};
  ASSERT_EQ(::stat((dir / "a").c_str(), &a_status), 0);
  const FileIdentity a{a_status.st_dev, a_status.st_ino};
  const sys::UniqueFd b(::open((dir / "a/b").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  ASSERT_TRUE(reopen_parent(b.get(), a));
  // Moved under another parent while its handle is held: ".." now leads somewhere else.
  std::filesystem::rename(dir / "a/b", dir / "c/b");
  const auto reopened = reopen_parent(b.get(), a);
  ASSERT_FALSE(reopened);
  EXPECT_EQ(reopened.error().number(), ESTALE);
}

// A subtree above the evicted handles moved out of the tree while a removal works at the bottom:
// coming back up, ".." of the moved directory leads outside, so the walk stops there with ESTALE
// and removes nothing more, neither the moved directory nor anything beside it.
TEST(TreeWalk, ASubtreeMovedAwayAboveEvictedHandlesStopsTheRemovalWithEstale) {
  TempDir dir;
  std::string bottom = dir / "top";
  for (std::size_t depth = 0; depth < kMaxOpenDirectories + 8; ++depth) bottom += "/d";
  make_dir(bottom);
  for (int i = 0; i < 300; ++i) make_file(bottom + "/f" + std::to_string(i), 1);
  // Beside where the subtree goes, what a walk led outside would take for its own next steps.
  make_dir(dir / "outside/d");
  make_file(dir / "outside/witness", 5);
  bool moved = false;
  // Told every 256 entries removed: by then the walk is at the bottom and top/d/d is evicted.
  const TreeProgressCallback move_away = [&](const TreeProgress&) {
    if (!std::exchange(moved, true))
      std::filesystem::rename(dir / "top/d/d", dir / "outside/moved");
  };
  TreeProgressReporter reporter(move_away, std::chrono::milliseconds(0), TreeProgress{});
  WalkControls controls;
  controls.progress = &reporter;
  const sys::UniqueFd parent(::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  auto top = sys::open_directory_at(parent.get(), "top");
  ASSERT_TRUE(top);
  const auto status = sys::status_of(top->get());
  ASSERT_TRUE(status);
  const auto removed = remove_directory_at(parent.get(), "top", std::move(*top), *status, controls);
  ASSERT_TRUE(moved);
  ASSERT_FALSE(removed);
  EXPECT_EQ(removed.error().number(), ESTALE);
  EXPECT_EQ(std::filesystem::file_size(dir / "outside/witness"), 5u);
  EXPECT_TRUE(exists_no_follow(dir / "outside/moved"));
  EXPECT_TRUE(exists_no_follow(dir / "outside/d"));
  EXPECT_TRUE(exists_no_follow(dir / "top/d"));
}

}  // namespace
}  // namespace sorvik_lib::cleaner
