// SIGTERM and SIGINT to the real helper in the middle of a clean: it stops at the next entry and
// still writes its one result, with what went and "Cancelled" for every path not done.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "sorvik_lib/platform.hpp"
#include "sorvik_lib/types/wire.hpp"
#include "support/file_tree.hpp"
#include "support/helper_process.hpp"
#include "support/path_swap.hpp"

namespace sorvik_test {
namespace {

namespace fs = std::filesystem;
using sorvik_lib::types::CleanResult;

// This process's children that run `program`, found through /proc.
std::vector<pid_t> children_running(const fs::path& program) {
  std::vector<pid_t> found;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    std::getline(stat, line);
    // "pid (comm) state ppid ...": the name in parentheses may hold spaces.
    const auto close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 1));
    char state;
    pid_t parent = 0;
    rest >> state >> parent;
    std::error_code error;
    if (parent == ::getpid() && fs::read_symlink(entry.path() / "exe", error) == program) {
      found.push_back(std::stoi(name));
    }
  }
  return found;
}

TEST(HelperSignal, StopsAtTheNextEntryAndStillWritesItsResult) {
  if (!SORVIK_TESTS_HAVE_LINUX) GTEST_SKIP() << "the helper's process is found through /proc";
  for (const int signal : {SIGTERM, SIGINT}) {
    TempDir dir(fast_temp_directory());
    write_file(dir / "sentinel", "s");
    constexpr int kSlowFiles = 20000;
    make_slow_tree(dir / "slow", kSlowFiles);
    write_file(dir / "after", "aa");
    sorvik_lib::sys::ProcessResult ran;
    const bool in_time = swap_while_cleaning(
        [&] {
          ran = run_helper(elevated_request(
              {(dir / "sentinel").string(), (dir / "slow").string(), (dir / "after").string()}));
        },
        dir / "sentinel", dir / "slow",
        [&] {
          for (const pid_t helper : children_running(fs::canonical(kHelperPath))) {
            ::kill(helper, signal);
          }
        });
    ASSERT_TRUE(in_time) << "the helper was done with the slow tree before the signal";
    EXPECT_EQ(ran.error, "");
    ASSERT_TRUE(ran.status.success()) << ran.status.to_string();
    const std::uint64_t gone = kSlowFiles - count_tree(dir / "slow").files;
    EXPECT_EQ(decode_exact(ran.output), (CleanResult{{(dir / "sentinel").string()},
                                                     {{(dir / "slow").string(), "Cancelled"},
                                                      {(dir / "after").string(), "Cancelled"}},
                                                     1 + gone}))
        << "signal " << signal;
    EXPECT_EQ(read_file(dir / "after"), "aa");
  }
}

}  // namespace
}  // namespace sorvik_test
