// Heap preparation reserves without touching, and the heap works as before afterwards.
#include "sorvik_lib/sys/memory.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace sorvik_test {
namespace {

long peak_kib() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Runs `body` in a child of its own, so the process-wide allocator settings do not outlive it;
// the child's exit status is the body's verdict.
template <typename Body>
int in_child(Body body) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(PrepareHeap, ReservesWithoutTouchingAndAllocationsStillHoldTheirBytes) {
  const int verdict = in_child([] {
    const long before = peak_kib();
    sorvik_lib::sys::prepare_heap_for(std::size_t{512} << 20);
    if (peak_kib() - before > 16 * 1024) return 1;  // the reserve itself must not be resident
    std::vector<std::string> paths;
    paths.reserve(300'000);
    for (int i = 0; i < 300'000; ++i)
      paths.push_back("/a/path/long/enough/to/leave/sso/" + std::to_string(i));
    for (int i = 0; i < 300'000; ++i) {
      if (paths[static_cast<std::size_t>(i)] !=
          "/a/path/long/enough/to/leave/sso/" + std::to_string(i))
        return 2;
    }
    paths = {};
    // A second, ordinary allocation burst after the first is let go.
    std::vector<std::string> again(100'000, std::string(100, 'x'));
    return again.back() == std::string(100, 'x') ? 0 : 3;
  });
  EXPECT_EQ(verdict, 0);
}

TEST(PrepareHeap, SmallAmountsAndZeroAreHarmless) {
  EXPECT_EQ(in_child([] {
              sorvik_lib::sys::prepare_heap_for(0);
              sorvik_lib::sys::prepare_heap_for(4096);
              std::string text(1 << 20, 'y');
              return text[12345] == 'y' ? 0 : 1;
            }),
            0);
}

}  // namespace
}  // namespace sorvik_test
