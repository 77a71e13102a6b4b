// The pseudo-terminal runner. The terminal is put in raw mode so that the output post-processing
// of a real terminal (turning "\n" into "\r\n") cannot be mistaken for the tool's own "\r".
#include "support/pseudo_terminal.hpp"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <string_view>

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

// openpty, from the POSIX calls alone: its header and library differ from system to system.
std::pair<int, int> open_pseudo_terminal(const struct termios& mode, const struct winsize& size) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    throw std::runtime_error("no pseudo-terminal");
  }
  const char* name = ::ptsname(master);
  const int slave = name != nullptr ? ::open(name, O_RDWR | O_NOCTTY) : -1;
  if (slave < 0 || ::tcsetattr(slave, TCSANOW, &mode) != 0 ||
      ::ioctl(slave, TIOCSWINSZ, &size) != 0) {
    throw std::runtime_error("the pseudo-terminal cannot be set up");
  }
  return {master, slave};
}

}  // namespace

TerminalRun run_on_terminal(const std::string& program, const std::vector<std::string>& arguments,
                            unsigned short columns) {
  TerminalOptions options;
  options.columns = columns;
  return run_on_terminal(program, arguments, options);
}

TerminalRun run_on_terminal(const std::string& program, const std::vector<std::string>& arguments,
                            const TerminalOptions& options) {
  struct termios raw {};
  ::cfmakeraw(&raw);
  struct winsize size {};
  size.ws_col = options.columns;
  size.ws_row = 24;
  const auto [master, slave] = open_pseudo_terminal(raw, size);
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
    const int input = options.input_from_terminal ? slave : ::open("/dev/null", O_RDONLY);
    if (input < 0 || ::dup2(input, STDIN_FILENO) < 0 || ::dup2(slave, STDOUT_FILENO) < 0 ||
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
  // Raw mode: what is typed reaches the child as it is, with no echo.
  for (std::size_t at = 0; at < options.typed.size();) {
    const ssize_t put = ::write(master, options.typed.data() + at, options.typed.size() - at);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) throw std::runtime_error("cannot type on the terminal");
    at += static_cast<std::size_t>(put);
  }

  TerminalRun run;
  pollfd fds[2] = {{master, POLLIN, 0}, {error_pipe[0], POLLIN, 0}};
  int open_streams = 2;
  const int wait_ms = options.watch ? 2 : -1;
  while (open_streams > 0) {
    if (options.watch && fds[0].fd >= 0) options.watch(pid, run.output);
    if (::poll(fds, 2, wait_ms) < 0) {
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

Screen split_screen(const std::string& output) {
  constexpr std::string_view kClearToEnd = "\x1b[K";
  Screen screen;
  std::size_t at = 0;
  while (output.compare(at, 1, "\r") == 0) {
    const std::size_t end = output.find(kClearToEnd, at);
    if (end == std::string::npos) break;
    screen.drawn.push_back(output.substr(at + 1, end - at - 1));
    at = end + kClearToEnd.size();
  }
  screen.report = output.substr(at);
  return screen;
}

}  // namespace sorvik_test
