// Trees built to hurt the cleaner: wide directories, names of the longest length, paths far
// beyond the system's path limit, deep chains under a low descriptor limit, and entries that
// another thread deletes while the cleaner walks them.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

#include "cleaner_test_support.hpp"
#include "sorvik_lib/cleaner/cleaner.hpp"
#include "tree_walk.hpp"

namespace sorvik_lib::cleaner {
namespace {

using testing::exists_no_follow;
using testing::make_dir;
using testing::make_file;
using testing::TempDir;
using types::CleanResult;
using types::Path;

CleanResult clean(const std::vector<Path>& paths, const PathSet& keep = {}) {
  return Cleaner::clean(paths, DryRun::No, keep, {});
}

// A forked child that never outlives the test: whatever ends the test, the child is killed and
// reaped, so that no stopped child keeps the test runner's output pipe open for ever.
class ForkedChild {
 public:
  explicit ForkedChild(pid_t pid) : pid_(pid) {}
  ForkedChild(const ForkedChild&) = delete;
  ForkedChild& operator=(const ForkedChild&) = delete;
  ~ForkedChild() {
    if (pid_ <= 0 || reaped_) return;
    ::kill(pid_, SIGKILL);
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
  }

  [[nodiscard]] pid_t pid() const { return pid_; }

  // Whether the child has ended, reaping it if so; the status is kept for wait().
  bool has_ended() {
    if (reaped_) return true;
    if (::waitpid(pid_, &status_, WNOHANG) == pid_) reaped_ = true;
    return reaped_;
  }

  // Stops the child and waits until it has stopped; false if it ended first.
  bool stop() {
    if (reaped_ || ::kill(pid_, SIGSTOP) != 0) return false;
    int status = 0;
    pid_t waited;
    while ((waited = ::waitpid(pid_, &status, WUNTRACED)) < 0 && errno == EINTR) {
    }
    if (waited == pid_ && WIFSTOPPED(status)) return true;
    if (waited == pid_) {
      reaped_ = true;
      status_ = status;
    }
    return false;
  }

  // The child's wait status once it has ended.
  int wait() {
    while (!reaped_) {
      const pid_t waited = ::waitpid(pid_, &status_, 0);
      if (waited == pid_ && !WIFSTOPPED(status_)) reaped_ = true;
      if (waited < 0 && errno != EINTR) break;
    }
    return status_;
  }

 private:
  pid_t pid_;
  int status_ = 0;
  bool reaped_ = false;
};

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A directory handle's own file of `size` bytes named `name`.
void make_file_at(int dir_fd, const std::string& name, std::size_t size) {
  const int fd = ::openat(dir_fd, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << name;
  if (size != 0) {
    const std::string bytes(size, 'w');
    EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  ::close(fd);
}

TEST(HostileTree, AHundredThousandEntriesInOneDirectory) {
  TempDir dir(testing::fast_scratch_directory());
  make_dir(dir / "wide");
  make_dir(dir / "kept");
  std::uint64_t expected = 0;
  for (const char* top : {"wide", "kept"}) {
    const int fd = ::open((dir / top).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int i = 0; i < 100'000; ++i) {
      // Every hundredth entry is a directory holding a file, the rest files of 0 to 9 bytes.
      const std::string name = "entry-" + std::to_string(i);
      if (i % 100 == 0) {
        ASSERT_EQ(::mkdirat(fd, name.c_str(), 0755), 0);
        const int sub = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        make_file_at(sub, "inner", 3);
        ::close(sub);
        expected += 3;
      } else {
        const std::size_t size = i % 7 == 0 ? static_cast<std::size_t>(i % 10) : 0;
        make_file_at(fd, name, size);
        expected += size;
      }
    }
    ::close(fd);
  }
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(clean({dir / "wide", dir / "kept"}, {dir / "kept"}),
            (CleanResult{{dir / "wide", dir / "kept"}, {}, 2 * (expected / 2)}));
  std::printf("two directories of 100,000 entries removed and emptied in %.2f s\n",
              seconds_since(start));
  EXPECT_FALSE(exists_no_follow(dir / "wide"));
  EXPECT_TRUE(std::filesystem::is_empty(dir / "kept"));
}

TEST(HostileTree, NamesOfTheLongestLengthAtEveryLevel) {
  TempDir dir;
  const std::string longest(255, 'n');
  std::string level = dir / "tree";
  std::uint64_t expected = 0;
  for (int depth = 0; depth < 12; ++depth) {  // about 3,000 bytes of path, below the limit
    make_dir(level);
    make_file(level + "/" + std::string(255, static_cast<char>('a' + depth)), 100);
    expected += 100;
    level += "/" + longest;
  }
  make_dir(dir / "kept/" + longest);
  make_file(dir / "kept/" + longest + "/" + longest, 7);
  EXPECT_EQ(clean({dir / "tree", dir / "kept"}, {dir / "kept"}),
            (CleanResult{{dir / "tree", dir / "kept"}, {}, expected + 7}));
  EXPECT_FALSE(exists_no_follow(dir / "tree"));
  EXPECT_TRUE(std::filesystem::is_empty(dir / "kept"));
}

// 64 levels of 255-byte names hold 16 KiB of path, four times the system's limit: nothing below
// the input path can be reached by name.
TEST(HostileTree, PathsFarBeyondThePathLimitBelowTheInputPath) {
  TempDir dir;
  const std::string longest(255, 'p');
  std::uint64_t expected = 0;
  for (const char* top : {"tree", "kept"}) {
    make_dir(dir / top);
    int fd = ::open((dir / top).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int depth = 0; depth < 64; ++depth) {
      make_file_at(fd, std::string(200, 'f') + std::to_string(depth), 10);
      ASSERT_EQ(::mkdirat(fd, longest.c_str(), 0755), 0);
      const int next = ::openat(fd, longest.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      ::close(fd);
      fd = next;
    }
    ::close(fd);
    expected += 64 * 10;
  }
  ASSERT_GT(64 * 256, PATH_MAX);
  EXPECT_EQ(clean({dir / "tree", dir / "kept"}, {dir / "kept"}),
            (CleanResult{{dir / "tree", dir / "kept"}, {}, expected}));
  EXPECT_FALSE(exists_no_follow(dir / "tree"));
  EXPECT_TRUE(std::filesystem::is_empty(dir / "kept"));
}

// A path that itself reaches beyond the system's path limit cannot be looked at by name: it is
// reported with the system's reason, in a dry run too, and nothing of it goes.
TEST(HostileTree, AnInputPathBeyondThePathLimitIsReportedNotSkipped) {
  TempDir dir;
  const std::string longest(255, 'p');
  make_dir(dir / "tree");
  std::string deepest = dir / "tree";
  int fd = ::open(deepest.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (int depth = 0; depth < 20; ++depth) {
    ASSERT_EQ(::mkdirat(fd, longest.c_str(), 0755), 0);
    const int next = ::openat(fd, longest.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::close(fd);
    fd = next;
    deepest += "/" + longest;
  }
  make_file_at(fd, "f", 10);
  ::close(fd);
  ASSERT_GT(deepest.size(), static_cast<std::size_t>(PATH_MAX));
  const std::string message = sys::SystemError(ENAMETOOLONG).message();
  for (const bool dry_run : {true, false}) {
    std::vector<std::string> events;
    const auto result =
        Cleaner::clean(std::vector<Path>{deepest}, dry_run ? DryRun::Yes : DryRun::No, {},
                       [&](const CleanProgress& event) {
                         if (std::holds_alternative<progress::PathFailed>(event)) {
                           events.push_back("failed");
                         }
                       });
    EXPECT_EQ(result, (CleanResult{{}, {{deepest, message}}, 0}));
    EXPECT_EQ(events, std::vector<std::string>{"failed"});
  }
  EXPECT_EQ(measure_tree(dir / "tree").bytes, 10u);
}

// A chain of `depth` directories below `top`, each level holding a one-byte file.
std::uint64_t make_chain(const std::string& top, int depth) {
  make_dir(top);
  int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (int level = 0; level < depth && fd >= 0; ++level) {
    make_file_at(fd, "f", 1);
    EXPECT_EQ(::mkdirat(fd, "d", 0755), 0);
    const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::close(fd);
    fd = next;
  }
  ::close(fd);
  return static_cast<std::uint64_t>(depth);
}

TEST(HostileTree, TwentyThousandLevelsRemovedAndEmptiedWithSixtyFourDescriptors) {
  TempDir dir(testing::fast_scratch_directory());
  constexpr int kDepth = 20'000;
  const std::uint64_t expected =
      make_chain(dir / "deep", kDepth) + make_chain(dir / "kept/top", kDepth);
  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    const struct rlimit limit { 64, 64 };
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) ::_exit(2);
    const auto start = std::chrono::steady_clock::now();
    const auto result = clean({dir / "deep", dir / "kept"}, {dir / "kept"});
    const double took = seconds_since(start);
    if (result != CleanResult{{dir / "deep", dir / "kept"}, {}, expected}) ::_exit(3);
    if (::write(pipe_fds[1], &took, sizeof took) != sizeof took) ::_exit(4);
    ::_exit(0);
  }
  ::close(pipe_fds[1]);
  double took = 0;
  const bool reported = ::read(pipe_fds[0], &took, sizeof took) == sizeof took;
  ::close(pipe_fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(reported);
  std::printf(
      "two chains of %d levels measured, removed and emptied in %.2f s with 64 descriptors\n",
      kDepth, took);
  EXPECT_FALSE(exists_no_follow(dir / "deep"));
  EXPECT_TRUE(std::filesystem::is_empty(dir / "kept"));
}

// The branch the walk is deep inside is deleted under it: every directory it holds or climbs
// back to is gone, lists as nothing, and is no error.
TEST(HostileTree, ABranchDeletedUnderADeepWalk) {
  TempDir dir(testing::fast_scratch_directory());
  const std::string top = dir / "deep";
  std::string bottom = top;
  for (std::size_t level = 0; level < kMaxOpenDirectories + 8; ++level) bottom += "/d";
  make_dir(bottom);
  for (int level = 0; level < 4; ++level) make_file(top + "/f" + std::to_string(level), 1);
  const int fd = ::open(bottom.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (int i = 0; i < 50'000; ++i) make_file_at(fd, "f" + std::to_string(i), 0);
  ::close(fd);
  // The cleaner removes entries in listing order, so the first listed goes first.
  std::string first;
  for (const auto& entry : std::filesystem::directory_iterator(bottom)) {
    first = bottom + "/" + entry.path().filename().string();
    break;
  }

  // The cleaner runs in a child that is held still while the branch goes, so that it meets the
  // deleted directories at every step of its way back up.
  ForkedChild child(::fork());
  if (child.pid() == 0) ::_exit(clean({top}) == CleanResult{{top}, {}, 4} ? 0 : 1);
  ASSERT_GT(child.pid(), 0);
  // Bounded: a child that ended before deleting anything leaves `first` in place.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (exists_no_follow(first) && !child.has_ended()) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the cleaner never began";
  }
  ASSERT_TRUE(child.stop());
  // The stopped child still holds its handles; the branch goes whatever state it is in.
  std::error_code ignored;
  std::filesystem::remove_all(top + "/d/d", ignored);
  ASSERT_EQ(::kill(child.pid(), SIGCONT), 0);
  const int status = child.wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
  EXPECT_FALSE(exists_no_follow(top));
}

// Another thread deletes random parts of the tree while the cleaner measures and removes it: a
// vanished entry is never an error, whatever the cleaner was doing with it.
TEST(HostileTree, EntriesThatVanishDuringTheWalkAreNoErrors) {
  TempDir dir(testing::fast_scratch_directory());
  std::mt19937 random(7);
  int rounds = 0;
  int deleted = 0;
  for (; rounds < 12; ++rounds) {
    const std::string top = dir / ("t" + std::to_string(rounds));
    const bool kept = rounds % 2 == 1;
    std::vector<std::string> victims;
    for (int i = 0; i < 40; ++i) {
      const std::string branch = top + "/b" + std::to_string(i);
      make_dir(branch + "/inner");
      for (int j = 0; j < 25; ++j) make_file(branch + "/inner/f" + std::to_string(j), 1);
      victims.push_back(branch);
      victims.push_back(branch + "/inner");
      victims.push_back(branch + "/inner/f0");
    }
    // Deep enough that the walk gives handles back and must find its way up again.
    make_chain(top + "/chain", 60);
    std::string link = top + "/chain";
    for (int level = 0; level < 60; level += 3) {
      victims.push_back(link);
      link += "/d/d/d";
    }
    std::shuffle(victims.begin(), victims.end(), random);
    std::atomic<bool> go = false;
    std::thread deleter([&] {
      while (!go) {
      }
      for (const auto& victim : victims) {
        std::error_code ignored;
        deleted += static_cast<int>(std::filesystem::remove_all(victim, ignored) > 0);
      }
    });
    go = true;
    const auto result = kept ? clean({top}, {top}) : clean({top});
    deleter.join();
    for (const auto& error : result.errors) {
      ADD_FAILURE() << "round " << rounds << ": " << error.path << ": " << error.message;
    }
    EXPECT_EQ(result.removed, std::vector<Path>{top}) << "round " << rounds;
    EXPECT_EQ(exists_no_follow(top), kept);
  }
  std::printf("%d rounds, %d parts deleted under the cleaner\n", rounds, deleted);
}

}  // namespace
}  // namespace sorvik_lib::cleaner
