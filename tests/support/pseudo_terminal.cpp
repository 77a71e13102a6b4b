// The pseudo-terminal runner. The terminal is put in raw mode so that the output post-processing
// of a real terminal (turning "\n" into "\r\n") cannot be mistaken for the tool's own "\r".
#include "support/pseudo_terminal.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#if defined(__APPLE__)
#include <util.h>
#else
#include <pty.h>
#endif

#include <cerrno>
#include <stdexcept>

namespace sorvik_test {
namespace {

// Reads what is there; false at the end (a pseudo-terminal's master reports EIO once the last
// holder of the other side has closed it).
bool drain(int fd, std::string& into) {
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got > 0) {
      into.append(buffer, static_cast<std::size_t>(got));
      return true;
    }
    if (got < 0 && errno == EINTR) continue;
    return false;
  }
}

}  // namespace

TerminalRun run_on_terminal(const std::string& program, const std::vector<std::string>& arguments,
                            unsigned short columns) {
  struct termios raw {};
  ::cfmakeraw(&raw);
  struct winsize size {};
  size.ws_col = columns;
  size.ws_row = 24;
  int master = -1;
  int slave = -1;
  if (::openpty(&master, &slave, nullptr, &raw, &size) != 0) {
    throw std::runtime_error("openpty failed");
  }
  int error_pipe[2];
  if (::pipe(error_pipe) != 0) throw std::runtime_error("pipe failed");

  std::vector<std::string> argv_storage = arguments;
  argv_storage.insert(argv_storage.begin(), program);
  std::vector<char*> argv;
  for (auto& argument : argv_storage) argv.push_back(argument.data());
  argv.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    // Only async-signal-safe calls from here to exec.
    const int null = ::open("/dev/null", O_RDONLY);
    if (null < 0 || ::dup2(null, STDIN_FILENO) < 0 || ::dup2(slave, STDOUT_FILENO) < 0 ||
        ::dup2(error_pipe[1], STDERR_FILENO) < 0) {
      ::_exit(126);
    }
    ::close(master);
    ::close(slave);
    ::close(error_pipe[0]);
    ::close(error_pipe[1]);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(slave);
  ::close(error_pipe[1]);

  TerminalRun run;
  pollfd fds[2] = {{master, POLLIN, 0}, {error_pipe[0], POLLIN, 0}};
  int open_streams = 2;
  while (open_streams > 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      if (!drain(fds[i].fd, i == 0 ? run.output : run.error)) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open_streams;
      }
    }
  }
  int wait_status = 0;
  while (::waitpid(pid, &wait_status, 0) < 0 && errno == EINTR) {
  }
  run.status = sorvik_lib::sys::decode_wait_status(wait_status);
  return run;
}

}  // namespace sorvik_test
