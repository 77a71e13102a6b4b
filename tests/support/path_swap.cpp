// The swap between screening and cleaning, timed by the request's own first paths.
#include "support/path_swap.hpp"

#include <sys/stat.h>

#include <atomic>
#include <thread>

#include "support/helper_process.hpp"

namespace sorvik_test {

namespace fs = std::filesystem;

namespace {

bool exists_no_follow(const fs::path& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0;
}

}  // namespace

void make_slow_tree(const fs::path& directory, int files) {
  fs::create_directories(directory);
  for (int i = 0; i < files; ++i) write_file(directory / ("f" + std::to_string(i)), "x");
}

void swap_for_link(const fs::path& path, const fs::path& target) {
  fs::rename(path, path.string() + ".moved");
  fs::create_directory_symlink(target, path);
}

bool swap_while_cleaning(const std::function<void()>& run, const fs::path& sentinel,
                         const fs::path& slow_tree, const std::function<void()>& swap) {
  std::atomic<bool> finished = false;
  bool in_time = false;
  std::thread attacker([&] {
    // A busy wait: the window is the slow tree's removal, and a sleeping thread could miss it.
    while (exists_no_follow(sentinel)) {
      if (finished) return;
    }
    swap();
    in_time = exists_no_follow(slow_tree);
  });
  run();
  finished = true;
  attacker.join();
  return in_time;
}

}  // namespace sorvik_test
