// The helper in the background, for signal tests.
#include "support/running_helper.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "support/helper_process.hpp"

namespace sorvik_test {

RunningHelper::RunningHelper(std::vector<std::string> arguments, int input_fd, int output_fd) {
  int error_pipe[2];
  if (::pipe(error_pipe) != 0) throw std::runtime_error("pipe failed");
  // Not to be inherited by children that other threads of the test may start.
  for (const int fd : error_pipe) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  arguments.insert(arguments.begin(), kHelperPath);
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    // Only async-signal-safe calls between fork and exec.
    if (::dup2(input_fd, STDIN_FILENO) < 0 || ::dup2(output_fd, STDOUT_FILENO) < 0 ||
        ::dup2(error_pipe[1], STDERR_FILENO) < 0) {
      ::_exit(127);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(error_pipe[1]);
  error_fd_ = error_pipe[0];
}

RunningHelper::~RunningHelper() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  if (error_fd_ >= 0) ::close(error_fd_);
}

bool RunningHelper::wait_until_it_catches_stop_signals(std::chrono::milliseconds limit) const {
  const std::string status_file = "/proc/" + std::to_string(pid_) + "/status";
  return wait_until(
      [&] {
        std::ifstream status(status_file);
        for (std::string line; std::getline(status, line);) {
          if (!line.starts_with("SigCgt:")) continue;
          const unsigned long long caught = std::stoull(line.substr(7), nullptr, 16);
          const auto bit = [](int signal) { return 1ULL << (signal - 1); };
          return (caught & bit(SIGTERM)) != 0 && (caught & bit(SIGINT)) != 0;
        }
        return false;
      },
      limit);
}

std::optional<int> RunningHelper::wait_for_exit(std::chrono::milliseconds limit) {
  if (pid_ <= 0) return std::nullopt;
  int status = 0;
  const bool ended = wait_until([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, limit);
  if (!ended) return std::nullopt;
  pid_ = -1;
  // The helper has ended, so its end of the pipe is closed: this read finds the end.
  char chunk[4096];
  for (ssize_t got; (got = ::read(error_fd_, chunk, sizeof chunk)) != 0;) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    error_output_.append(chunk, static_cast<std::size_t>(got));
  }
  return status;
}

bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace sorvik_test
