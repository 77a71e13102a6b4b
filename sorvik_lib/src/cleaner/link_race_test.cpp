// The symbolic-link race: while the cleaner removes a tree, or empties a kept root, an attacker
// thread keeps putting links to a victim tree in place of directories inside it, and the
// directories back. Whatever the interleaving, the victim must lose nothing. Each test runs for
// SORVIK_RACE_SECONDS (2 by default), round after round on fresh trees.
#include <stdio.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <thread>

#include "cleaner_test_support.hpp"
#include "sorvik_lib/cleaner/cleaner.hpp"
#include "sorvik_lib/platform.hpp"
#include "tree_walk.hpp"

namespace sorvik_lib::cleaner {
namespace {

namespace fs = std::filesystem;
using testing::exists_no_follow;
using testing::make_dir;
using testing::make_file;
using testing::TempDir;
using types::CleanResult;
using types::Path;

std::chrono::seconds race_duration() {
  const char* text = std::getenv("SORVIK_RACE_SECONDS");
  const long seconds = text != nullptr ? std::strtol(text, nullptr, 10) : 0;
  return std::chrono::seconds(seconds > 0 ? seconds : 2);
}

// Every entry below `root` (links not followed) with what it is: a file's length, or "dir" and
// "link" with the link's target.
std::map<std::string, std::string> snapshot(const fs::path& root) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const auto relative = fs::relative(entry.path(), root).string();
    if (entry.is_symlink()) {
      entries[relative] = "link " + fs::read_symlink(entry.path()).string();
    } else if (entry.is_directory()) {
      entries[relative] = "dir";
    } else {
      entries[relative] = std::to_string(entry.file_size());
    }
  }
  return entries;
}

// How many entries of `before` are missing or different in `after`.
int losses(const std::map<std::string, std::string>& before,
           const std::map<std::string, std::string>& after) {
  int lost = 0;
  for (const auto& [path, what] : before) {
    const auto found = after.find(path);
    if (found == after.end() || found->second != what) ++lost;
  }
  return lost;
}

// A tree whose directories carry the same names as the victim's, so that a walk led astray
// would find work there: "dN/sM" with files, and a chain deeper than the walk keeps handles for.
std::vector<std::string> make_target(const std::string& top) {
  std::vector<std::string> directories;
  for (int d = 0; d < 16; ++d) {
    const std::string branch = top + "/d" + std::to_string(d);
    directories.push_back(branch);
    for (int s = 0; s < 4; ++s) {
      const std::string leaf = branch + "/s" + std::to_string(s);
      make_dir(leaf);
      directories.push_back(leaf);
      for (int f = 0; f < 12; ++f) make_file(leaf + "/f" + std::to_string(f), 1);
    }
  }
  std::string level = top + "/chain";
  for (std::size_t depth = 0; depth < kMaxOpenDirectories + 8; ++depth) {
    make_dir(level);
    make_file(level + "/f", 1);
    directories.push_back(level);
    level += "/c";
  }
  return directories;
}

void make_victim(const std::string& victim) {
  for (int d = 0; d < 8; ++d) {
    const std::string branch = victim + "/d" + std::to_string(d);
    for (int s = 0; s < 4; ++s) {
      make_dir(branch + "/s" + std::to_string(s));
      make_file(branch + "/s" + std::to_string(s) + "/f0", 10 + d);
    }
    make_file(branch + "/precious", 100);
  }
  make_dir(victim + "/chain/c/c");
  make_file(victim + "/chain/c/c/f", 7);
}

// Swaps directories of the tree for links into the victim and back, until told to stop.
class Attacker {
 public:
  Attacker(std::vector<std::string> directories, std::string victim, unsigned seed)
      : directories_(std::move(directories)), victim_(std::move(victim)), random_(seed) {}

  void run(const std::atomic<bool>& stop) {
    while (!stop) {
      const std::string& directory = directories_[pick(directories_.size())];
      // The victim itself, or a directory of it with the same name as one of the tree's.
      const std::string target = pick(2) == 0 ? victim_ : victim_ + "/d" + std::to_string(pick(8));
#if SORVIK_TESTS_HAVE_LINUX
      if (pick(2) == 0) {
        swap_by_exchange(directory, target);
        continue;
      }
#endif
      swap_by_rename(directory, target);
    }
  }

  [[nodiscard]] long swaps() const { return swaps_; }

 private:
  std::size_t pick(std::size_t bound) {
    return std::uniform_int_distribution<std::size_t>(0, bound - 1)(random_);
  }

  // The directory goes aside, a link takes its name, then the directory comes back.
  void swap_by_rename(const std::string& directory, const std::string& target) {
    const std::string aside = directory + ".aside";
    if (::rename(directory.c_str(), aside.c_str()) != 0) return;
    if (::symlink(target.c_str(), directory.c_str()) == 0) {
      ++swaps_;
      (void)::unlink(directory.c_str());
    }
    (void)::rename(aside.c_str(), directory.c_str());
  }

#if SORVIK_TESTS_HAVE_LINUX
  // The directory and a link trade names in one step, so the name is never missing.
  void swap_by_exchange(const std::string& directory, const std::string& target) {
    const std::string link = directory + ".link";
    if (::symlink(target.c_str(), link.c_str()) != 0) return;
    if (::renameat2(AT_FDCWD, link.c_str(), AT_FDCWD, directory.c_str(), RENAME_EXCHANGE) == 0) {
      ++swaps_;
      (void)::renameat2(AT_FDCWD, link.c_str(), AT_FDCWD, directory.c_str(), RENAME_EXCHANGE);
    }
    // Whatever holds the link's name now is the link only if the exchange back went through.
    struct stat status {};
    if (::lstat(link.c_str(), &status) == 0 && S_ISLNK(status.st_mode))
      (void)::unlink(link.c_str());
  }
#endif

  std::vector<std::string> directories_;
  std::string victim_;
  std::mt19937 random_;
  long swaps_ = 0;
};

struct RaceFigures {
  int rounds = 0;
  long swaps = 0;
  int victim_losses = 0;
  int rounds_with_errors = 0;
  std::map<std::string, int> messages;  // the error entries' messages, with how often each came
};

RaceFigures race(bool keep_root) {
  TempDir dir(testing::fast_scratch_directory());
  const std::string victim = dir / "victim";
  make_victim(victim);
  const auto before = snapshot(victim);
  RaceFigures figures;
  const auto deadline = std::chrono::steady_clock::now() + race_duration();
  while (std::chrono::steady_clock::now() < deadline && !::testing::Test::HasFailure()) {
    const std::string top = dir / ("target" + std::to_string(figures.rounds));
    Attacker attacker(make_target(top), victim, static_cast<unsigned>(figures.rounds));
    std::atomic<bool> stop = false;
    std::thread attacking([&] { attacker.run(stop); });
    const std::vector<Path> paths = {top};
    const PathSet keep = keep_root ? PathSet{top} : PathSet{};
    const CleanResult result = Cleaner::clean(paths, DryRun::No, keep, {});
    stop = true;
    attacking.join();

    ++figures.rounds;
    figures.swaps += attacker.swaps();
    const int lost = losses(before, snapshot(victim));
    figures.victim_losses += lost;
    EXPECT_EQ(lost, 0) << "round " << figures.rounds;
    if (!result.errors.empty()) ++figures.rounds_with_errors;
    for (const auto& error : result.errors) ++figures.messages[error.message];
    // A clean that reports the tree removed has removed it; a kept root always stays.
    if (keep_root) {
      EXPECT_TRUE(fs::is_directory(fs::symlink_status(top)));
    } else if (result.errors.empty()) {
      EXPECT_FALSE(exists_no_follow(top));
    }
    std::error_code ignored;
    fs::remove_all(top, ignored);
  }
  std::printf("%s: %d rounds, %ld swaps, %d victim losses, %d rounds with error entries\n",
              keep_root ? "emptying a kept root" : "removing a tree", figures.rounds, figures.swaps,
              figures.victim_losses, figures.rounds_with_errors);
  for (const auto& [message, count] : figures.messages) {
    std::printf("  %6d x %s\n", count, message.c_str());
  }
  return figures;
}

TEST(LinkRace, RemovingATreeNeverReachesTheVictim) {
  const RaceFigures figures = race(false);
  EXPECT_EQ(figures.victim_losses, 0);
  EXPECT_GT(figures.swaps, 0);
}

TEST(LinkRace, EmptyingAKeptRootNeverReachesTheVictim) {
  const RaceFigures figures = race(true);
  EXPECT_EQ(figures.victim_losses, 0);
  EXPECT_GT(figures.swaps, 0);
}

}  // namespace
}  // namespace sorvik_lib::cleaner
