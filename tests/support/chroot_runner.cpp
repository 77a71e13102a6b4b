// Runs a program inside a throwaway root and reports the program's own peak memory. It is a
// separate small process because a child forked from a test inherits the test's pages, and the
// kernel's peak-size figure of that child would then show the test instead of the program.
// Usage: chroot_runner ROOT PEAK_FILE PROGRAM [ARGUMENT...]
// Standard streams pass through. PEAK_FILE receives the peak resident size in KiB, then "exit N"
// or "signal N". The exit status is the program's, 128 + N for a signal, 125 when the root cannot
// be entered, 127 when the program cannot be started.
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  const pid_t child = ::fork();
  if (child < 0) return 126;
  if (child == 0) {
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
