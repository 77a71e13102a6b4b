// Runs a program inside a throwaway root and reports the program's own peak memory. It is a
// separate small process because a child forked from a test inherits the test's pages, and the
// kernel's peak-size figure of that child would then show the test instead of the program.
// Usage: chroot_runner [--bind SOURCE TARGET]... ROOT PEAK_FILE PROGRAM [ARGUMENT...]
// Each --bind mounts the host directory SOURCE on TARGET (host paths too) in a mount namespace of
// the program's own, so the mounts vanish with it whatever happens to the test.
// Standard streams pass through. PEAK_FILE receives the peak resident size in KiB, then "exit N"
// or "signal N". The exit status is the program's, 128 + N for a signal, 124 when the mounts
// cannot be made, 125 when the root cannot be entered, 127 when the program cannot be started.
#include "sorvik_lib/platform.hpp"

#if SORVIK_TESTS_HAVE_LINUX
#include <sched.h>
#include <sys/mount.h>
#endif
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Mount namespaces are Linux's; elsewhere only runs without binds work.
bool mount_binds([[maybe_unused]] char** binds, int count) {
  if (count == 0) return true;
#if !SORVIK_TESTS_HAVE_LINUX
  return false;
#else
  if (::unshare(CLONE_NEWNS) != 0) return false;
  // Nothing mounted here may show in the test's own namespace.
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
  for (int i = 0; i < count; i += 3) {
    if (::mount(binds[i + 1], binds[i + 2], nullptr, MS_BIND | MS_REC, nullptr) != 0) return false;
  }
  return true;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  while (first + 2 < argc && std::strcmp(argv[first], "--bind") == 0) first += 3;
  char** const binds = argv + 1;
  const int bind_words = first - 1;
  argc -= bind_words;
  argv += bind_words;
  if (argc < 4) return 2;
  const pid_t child = ::fork();
  if (child < 0) return 126;
  if (child == 0) {
    if (!mount_binds(binds, bind_words)) ::_exit(124);
    if (::chroot(argv[1]) != 0 || ::chdir("/") != 0) ::_exit(125);
    ::execv(argv[3], argv + 3);
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  while (::wait4(child, &status, 0, &usage) < 0) {
    if (errno != EINTR) return 126;
  }
  std::FILE* peak = std::fopen(argv[2], "w");
  if (peak == nullptr) return 126;
  const bool signaled = WIFSIGNALED(status);
  const int value = signaled ? WTERMSIG(status) : WEXITSTATUS(status);
  std::fprintf(peak, "%ld\n%s %d\n", usage.ru_maxrss, signaled ? "signal" : "exit", value);
  std::fclose(peak);
  return signaled ? 128 + value : value;
}
