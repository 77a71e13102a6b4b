// Spawning and timing of one child. posix_spawn (a vfork-like clone in glibc) keeps the cost of
// starting the child as small as the system allows, so it is the child that gets timed.
#include "child_run.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <cstdlib>

#include "sorvik_lib/sys/io.hpp"
#include "sorvik_lib/sys/spawn_setup.hpp"
#include "sorvik_lib/sys/unique_fd.hpp"

extern char** environ;

namespace sorvik_bench {
namespace {

using sorvik_lib::sys::SpawnSetup;
using sorvik_lib::sys::SystemError;
using sorvik_lib::sys::UniqueFd;

// The harness ignores SIGPIPE; its children must not inherit that.
int reset_signals(posix_spawnattr_t* attributes) {
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigset_t empty;
  sigemptyset(&empty);
  if (int r = ::posix_spawnattr_setsigdefault(attributes, &defaults); r != 0) return r;
  if (int r = ::posix_spawnattr_setsigmask(attributes, &empty); r != 0) return r;
  return ::posix_spawnattr_setflags(attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
}

// Lowers (or restores) our own soft open-file limit for the span of one spawn: the child inherits
// it, and posix_spawn has no way to set it in the child alone.
class OpenFilesLimit {
 public:
  explicit OpenFilesLimit(std::optional<rlim_t> limit) {
    if (!limit || ::getrlimit(RLIMIT_NOFILE, &saved_) != 0) return;
    rlimit lowered = saved_;
    lowered.rlim_cur = std::min(*limit, saved_.rlim_max);
    active_ = ::setrlimit(RLIMIT_NOFILE, &lowered) == 0;
  }
  ~OpenFilesLimit() {
    if (active_) ::setrlimit(RLIMIT_NOFILE, &saved_);
  }
  OpenFilesLimit(const OpenFilesLimit&) = delete;
  OpenFilesLimit& operator=(const OpenFilesLimit&) = delete;

 private:
  rlimit saved_{};
  bool active_ = false;
};

}  // namespace

double now_seconds() {
  timespec time{};
  ::clock_gettime(CLOCK_MONOTONIC, &time);
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) * 1e-9;
}

std::expected<ChildOutcome, SystemError> run_child(const ChildLaunch& launch) {
  if (launch.arguments.empty()) return std::unexpected(SystemError(EINVAL));
  std::vector<char*> argv;
  for (const auto& argument : launch.arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  SpawnSetup setup;
  if (auto ready = setup.ready(); !ready) return std::unexpected(ready.error());
  if (int r = reset_signals(setup.attributes()); r != 0) return std::unexpected(SystemError(r));
  UniqueFd feed_read, feed_write, feed_source;
  if (launch.input_through_pipe) {
    const int source = ::open(launch.input_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (source < 0) return std::unexpected(SystemError::from_errno());
    feed_source = UniqueFd(source);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return std::unexpected(SystemError::from_errno());
    feed_read = UniqueFd(fds[0]);
    feed_write = UniqueFd(fds[1]);
    if (int r = ::posix_spawn_file_actions_adddup2(setup.actions(), feed_read.get(), 0); r != 0) {
      return std::unexpected(SystemError(r));
    }
  } else if (int r = ::posix_spawn_file_actions_addopen(setup.actions(), 0,
                                                        launch.input_path.c_str(), O_RDONLY, 0);
             r != 0) {
    return std::unexpected(SystemError(r));
  }
  const int output_flags = O_WRONLY | O_CREAT | O_TRUNC;
  if (int r = ::posix_spawn_file_actions_addopen(setup.actions(), 1, launch.output_path.c_str(),
                                                 output_flags, 0644);
      r != 0) {
    return std::unexpected(SystemError(r));
  }
  if (int r = ::posix_spawn_file_actions_addopen(setup.actions(), 2, launch.error_path.c_str(),
                                                 output_flags, 0644);
      r != 0) {
    return std::unexpected(SystemError(r));
  }

  pid_t pid = 0;
  double started = 0;
  {
    const OpenFilesLimit limit(launch.open_files_limit);
    started = now_seconds();
    const int spawned =
        ::posix_spawn(&pid, argv[0], setup.actions(), setup.attributes(), argv.data(), environ);
    if (spawned != 0) return std::unexpected(SystemError(spawned));
  }
  feed_read.reset();
  if (launch.input_through_pipe) {
    // A child that stops reading early is its own business: EPIPE ends the feeding, nothing more.
    std::array<char, 64 * 1024> chunk;
    for (;;) {
      const ssize_t got = ::read(feed_source.get(), chunk.data(), chunk.size());
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      if (!sorvik_lib::sys::write_all(
              feed_write.get(), std::string_view(chunk.data(), static_cast<std::size_t>(got)))) {
        break;
      }
    }
    feed_write.reset();
  }
  int status = 0;
  rusage usage{};
  while (::wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) return std::unexpected(SystemError::from_errno());
  }
  ChildOutcome outcome;
  outcome.seconds = now_seconds() - started;
  outcome.status = sorvik_lib::sys::decode_wait_status(status);
  outcome.peak_memory_kib = usage.ru_maxrss;
  return outcome;
}

std::expected<std::string, std::string> compute_in_child(const std::function<std::string()>& work) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return std::unexpected(SystemError::from_errno().message());
  UniqueFd read_end(fds[0]);
  UniqueFd write_end(fds[1]);
  const pid_t pid = ::fork();
  if (pid < 0) return std::unexpected(SystemError::from_errno().message());
  if (pid == 0) {
    read_end.reset();
    const std::string answer = work();
    const bool sent = sorvik_lib::sys::write_all(write_end.get(), answer).has_value();
    ::_exit(sent ? 0 : 1);
  }
  write_end.reset();
  auto answer = sorvik_lib::sys::read_all(read_end.get());
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return std::unexpected(SystemError::from_errno().message());
  }
  const auto ended = sorvik_lib::sys::decode_wait_status(status);
  if (!ended.success()) return std::unexpected("the forked child ended with " + ended.to_string());
  if (!answer) return std::unexpected(answer.error().message());
  return std::move(*answer);
}

std::optional<std::string> find_program(std::string_view program) {
  if (program.find('/') != std::string_view::npos) {
    if (::access(std::string(program).c_str(), X_OK) == 0) return std::string(program);
    return std::nullopt;
  }
  const char* search = std::getenv("PATH");
  std::string_view directories = search ? search : "/usr/bin:/bin";
  while (!directories.empty()) {
    const auto colon = directories.find(':');
    std::string_view directory = directories.substr(0, colon);
    directories =
        colon == std::string_view::npos ? std::string_view() : directories.substr(colon + 1);
    if (directory.empty()) continue;
    std::string candidate = std::string(directory) + "/" + std::string(program);
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return std::nullopt;
}

}  // namespace sorvik_bench
