// The child-process runner, on posix_spawn. Written by hand because the needs are exact: no
// shell, each stream set up on its own, both output pipes drained together, no child ever
// holding a descriptor it was not given, so that no pipe stays open in a stranger, and no program
// found anywhere but in the absolute entries of PATH.
#include "sorvik_lib/sys/process.hpp"

#include <fcntl.h>
#include <fmt/format.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <optional>
#include <thread>
#include <vector>

#include "sorvik_lib/platform.hpp"
#include "sorvik_lib/sys/io.hpp"
#include "sorvik_lib/sys/search_path.hpp"
#include "sorvik_lib/sys/spawn_setup.hpp"
#include "sorvik_lib/sys/unique_fd.hpp"

#if SORVIK_HAS_NSGETENVIRON
#include <crt_externs.h>
#else
extern char** environ;
#endif

namespace sorvik_lib::sys {
namespace {

// A framework or dylib on macOS cannot link against `environ`; the C library hands it out.
char** environment() {
#if SORVIK_HAS_NSGETENVIRON
  return *::_NSGetEnviron();
#else
  return environ;
#endif
}

constexpr std::size_t kReadChunk = 64 * 1024;

struct Pipe {
  UniqueFd read_end;
  UniqueFd write_end;
};

// A child that holds a pipe end of another run keeps that run from ever seeing end of file, and
// an application may start children from several threads at once. Both ends close on exec; the
// child's end reaches the child through dup2, which clears the flag.
//
// Linux relies on pipe2 making the ends close-on-exec atomically, so no exec on any thread can
// catch them without the flag. Without pipe2 the flag comes a moment later, and a child spawned
// meanwhile would inherit the ends: on Apple every spawn of ours sets POSIX_SPAWN_CLOEXEC_DEFAULT
// (see reset_signals), so no child of ours ever inherits a descriptor it was not handed, whoever
// opened it; elsewhere, and against a fork of code that is not ours, the window stays.
[[nodiscard]] std::expected<Pipe, SystemError> make_pipe() {
  int fds[2];
#if SORVIK_HAS_PIPE2
  if (::pipe2(fds, O_CLOEXEC) != 0) return std::unexpected(SystemError::from_errno());
  return Pipe{UniqueFd(fds[0]), UniqueFd(fds[1])};
#else
  if (::pipe(fds) != 0) return std::unexpected(SystemError::from_errno());
  Pipe pipe{UniqueFd(fds[0]), UniqueFd(fds[1])};
  for (const int fd : fds) {
    if (::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) return std::unexpected(SystemError::from_errno());
  }
  return pipe;
#endif
}

// posix_spawn* calls return the error number instead of setting errno.
[[nodiscard]] std::expected<void, SystemError> check(int result) {
  if (result != 0) return std::unexpected(SystemError(result));
  return {};
}

// A caller that ignores SIGPIPE (the helper does) must not pass that on, and the child starts
// with no signal blocked. On Apple the child also starts with only the descriptors the file
// actions give it (see make_pipe).
[[nodiscard]] std::expected<void, SystemError> set_attributes(posix_spawnattr_t* attributes) {
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigset_t empty;
  sigemptyset(&empty);
  if (auto r = check(::posix_spawnattr_setsigdefault(attributes, &defaults)); !r) return r;
  if (auto r = check(::posix_spawnattr_setsigmask(attributes, &empty)); !r) return r;
  short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
#if SORVIK_HAS_SPAWN_CLOEXEC_DEFAULT
  flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
#endif
  return check(::posix_spawnattr_setflags(attributes, flags));
}

// How one standard stream of the child is connected.
enum class StreamKind { Pipe, Null, Inherit, Closed };
enum class Direction { ToChild, FromChild };

StreamKind stream_kind(InputMode mode) {
  switch (mode) {
    case InputMode::Bytes:
      return StreamKind::Pipe;
    case InputMode::Null:
      return StreamKind::Null;
    case InputMode::Closed:
      return StreamKind::Closed;
    case InputMode::Inherit:
      break;
  }
  return StreamKind::Inherit;
}

StreamKind stream_kind(OutputMode mode) {
  switch (mode) {
    case OutputMode::Capture:
      return StreamKind::Pipe;
    case OutputMode::Null:
      return StreamKind::Null;
    case OutputMode::Closed:
      return StreamKind::Closed;
    case OutputMode::Inherit:
      break;
  }
  return StreamKind::Inherit;
}

// A pipe's two ends: ours, and the child's until it has been handed over.
struct StreamEnds {
  UniqueFd parent;
  UniqueFd child;
};

[[nodiscard]] std::expected<StreamEnds, SystemError> set_up_stream(
    posix_spawn_file_actions_t* actions, int child_fd, StreamKind kind, Direction direction) {
  const bool to_child = direction == Direction::ToChild;
  StreamEnds ends;
  int added = 0;
  switch (kind) {
    case StreamKind::Pipe: {
      auto pipe = make_pipe();
      if (!pipe) return std::unexpected(pipe.error());
      ends = {to_child ? std::move(pipe->write_end) : std::move(pipe->read_end),
              to_child ? std::move(pipe->read_end) : std::move(pipe->write_end)};
      added = ::posix_spawn_file_actions_adddup2(actions, ends.child.get(), child_fd);
      break;
    }
    case StreamKind::Null:
      added = ::posix_spawn_file_actions_addopen(actions, child_fd, "/dev/null",
                                                 to_child ? O_RDONLY : O_WRONLY, 0);
      break;
    case StreamKind::Closed:
      added = ::posix_spawn_file_actions_addclose(actions, child_fd);
      break;
    case StreamKind::Inherit:
#if SORVIK_HAS_SPAWN_CLOEXEC_DEFAULT
      // Everything not named closes on exec, the caller's own streams too.
      added = ::posix_spawn_file_actions_addinherit_np(actions, child_fd);
#endif
      break;
  }
  if (auto r = check(added); !r) return std::unexpected(r.error());
  return ends;
}

// A run that its caller may cancel. A poll() already asleep cannot be woken by the caller's flag
// (a signal that sets it may even land just before the poll begins), so every wait of such a run
// is cut into slices of kStopCheckInterval and the flag looked at after each: a cancel is acted on
// within one slice, whenever it comes.
class Cancellation {
 public:
  Cancellation(const std::atomic<bool>* flag, pid_t pid) : flag_(flag), pid_(pid) {}

  [[nodiscard]] bool watched() const { return flag_ != nullptr; }
  [[nodiscard]] bool sent() const { return sent_; }
  [[nodiscard]] const std::optional<int>& reaped_status() const { return reaped_status_; }

  // Asks the child to stop, once, the first time the flag is seen set; never after it has been
  // reaped, when its number may already belong to another process.
  void check() {
    if (flag_ == nullptr || sent_ || reaped_status_ || !flag_->load()) return;
    sent_ = ::kill(pid_, SIGTERM) == 0 || errno == ESRCH;
  }

  // Once the child was asked to stop: reaps it if it has ended. Its output pipes may be held open
  // by children of its own, which the caller then need not wait for.
  void reap_if_ended() {
    if (!sent_ || reaped_status_) return;
    int status = 0;
    pid_t done;
    do {
      done = ::waitpid(pid_, &status, WNOHANG);
    } while (done < 0 && errno == EINTR);
    if (done == pid_) reaped_status_ = status;
  }

 private:
  const std::atomic<bool>* flag_;
  pid_t pid_;
  bool sent_ = false;
  std::optional<int> reaped_status_;
};

// Feeds `input` to `input_fd` and reads the two output descriptors to their ends, all at once.
// Once a cancelled child has ended, what its pipes still hold is read and the rest left.
[[nodiscard]] std::expected<void, SystemError> serve_pipes(UniqueFd& input_fd,
                                                           std::string_view input,
                                                           UniqueFd& output_fd, std::string& output,
                                                           UniqueFd& error_fd, std::string& error,
                                                           Cancellation& cancellation) {
  if (input_fd.valid()) {
    if (input.empty()) {
      input_fd.reset();
    } else {
      const int flags = ::fcntl(input_fd.get(), F_GETFL);
      if (flags == -1 || ::fcntl(input_fd.get(), F_SETFL, flags | O_NONBLOCK) == -1) {
        return std::unexpected(SystemError::from_errno());
      }
    }
  }
  std::array<char, kReadChunk> chunk;
  while (input_fd.valid() || output_fd.valid() || error_fd.valid()) {
    std::array<pollfd, 3> polled{};
    std::size_t count = 0;
    if (input_fd.valid()) polled[count++] = {input_fd.get(), POLLOUT, 0};
    if (output_fd.valid()) polled[count++] = {output_fd.get(), POLLIN, 0};
    if (error_fd.valid()) polled[count++] = {error_fd.get(), POLLIN, 0};
    int timeout = -1;
    if (cancellation.watched()) timeout = static_cast<int>(kStopCheckInterval.count());
    if (cancellation.reaped_status()) timeout = 0;
    const int ready = ::poll(polled.data(), count, timeout);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(SystemError::from_errno());
    }
    if (ready == 0 && cancellation.reaped_status()) break;
    cancellation.check();
    cancellation.reap_if_ended();
    for (std::size_t i = 0; i < count; ++i) {
      if (polled[i].revents == 0) continue;
      const int fd = polled[i].fd;
      if (fd == input_fd.get()) {
        const ssize_t put = ::write(fd, input.data(), input.size());
        if (put < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        // EPIPE: the child stopped reading, which is its business, not an error of ours.
        if (put < 0 && errno != EPIPE) return std::unexpected(SystemError::from_errno());
        if (put > 0) input.remove_prefix(static_cast<std::size_t>(put));
        if (put < 0 || input.empty()) input_fd.reset();
        continue;
      }
      const ssize_t got = ::read(fd, chunk.data(), chunk.size());
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return std::unexpected(SystemError::from_errno());
      UniqueFd& source = fd == output_fd.get() ? output_fd : error_fd;
      std::string& sink = fd == output_fd.get() ? output : error;
      if (got == 0) {
        source.reset();
      } else {
        sink.append(chunk.data(), static_cast<std::size_t>(got));
      }
    }
  }
  return {};
}

// Whether execvp, having failed to run one candidate with `error`, goes on to the next: the
// program is not there, or not executable there (EACCES, which it reports if nothing else runs).
bool tries_next_candidate(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ESTALE:
    case ENODEV:
    case ETIMEDOUT:
    case EACCES:
      return true;
    default:
      return false;
  }
}

// Starts the first candidate for `argv[0]` that the system will run, as posix_spawnp does except
// that only absolute entries of the inherited PATH are searched (see search_path.hpp). Trying each
// in turn, instead of checking first, leaves the system to judge what it can execute, with no
// moment between the check and the start.
[[nodiscard]] std::expected<pid_t, SystemError> spawn_found(char* const* argv, SpawnSetup& setup) {
  char** const environment_block = environment();
  const auto candidates = program_candidates(argv[0], environment_value(environment_block, "PATH"));
  int error = ENOENT;
  bool denied = false;
  for (const std::string& candidate : candidates) {
    pid_t pid = 0;
    error = ::posix_spawn(&pid, candidate.c_str(), setup.actions(), setup.attributes(), argv,
                          environment_block);
    if (error == 0) return pid;
    if (!tries_next_candidate(error)) return std::unexpected(SystemError(error));
    denied = denied || error == EACCES;
  }
  return std::unexpected(SystemError(denied ? EACCES : ENOENT));
}

[[nodiscard]] std::expected<int, SystemError> wait_for(pid_t pid, Cancellation& cancellation) {
  if (cancellation.reaped_status()) return *cancellation.reaped_status();
  // A child that has closed its output may still run: until it ends or is asked to stop, the
  // flag is looked at between slices. Once asked, it is waited for however long it takes.
  while (cancellation.watched() && !cancellation.sent()) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) return status;
    if (done < 0 && errno != EINTR) return std::unexpected(SystemError::from_errno());
    cancellation.check();
    if (!cancellation.sent()) std::this_thread::sleep_for(kStopCheckInterval);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return std::unexpected(SystemError::from_errno());
  }
  return status;
}

std::string signal_name(int number) {
  static constexpr std::pair<int, const char*> kNames[] = {
      {SIGHUP, "SIGHUP"},   {SIGINT, "SIGINT"},   {SIGQUIT, "SIGQUIT"}, {SIGILL, "SIGILL"},
      {SIGABRT, "SIGABRT"}, {SIGBUS, "SIGBUS"},   {SIGFPE, "SIGFPE"},   {SIGKILL, "SIGKILL"},
      {SIGSEGV, "SIGSEGV"}, {SIGPIPE, "SIGPIPE"}, {SIGALRM, "SIGALRM"}, {SIGTERM, "SIGTERM"},
  };
  for (const auto& [signal, name] : kNames) {
    if (signal == number) return name;
  }
  return fmt::format("signal {}", number);
}

}  // namespace

std::string ExitStatus::to_string() const {
  if (kind == Kind::Exited) return fmt::format("exit status: {}", value);
  return fmt::format("signal: {} ({}){}", value, signal_name(value),
                     core_dumped ? ", core dumped" : "");
}

ExitStatus decode_wait_status(int wait_status) {
  if (WIFSIGNALED(wait_status)) {
    return {ExitStatus::Kind::Signaled, WTERMSIG(wait_status), WCOREDUMP(wait_status) != 0};
  }
  return {ExitStatus::Kind::Exited, WEXITSTATUS(wait_status), false};
}

std::expected<ProcessResult, SystemError> run_process(std::span<const std::string> arguments,
                                                      const ProcessOptions& options) {
  if (arguments.empty()) return std::unexpected(SystemError(EINVAL));
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  SpawnSetup setup;
  if (auto ready = setup.ready(); !ready) return std::unexpected(ready.error());
  if (auto r = set_attributes(setup.attributes()); !r) return std::unexpected(r.error());

  auto input = set_up_stream(setup.actions(), STDIN_FILENO, stream_kind(options.input_mode),
                             Direction::ToChild);
  if (!input) return std::unexpected(input.error());
  auto output = set_up_stream(setup.actions(), STDOUT_FILENO, stream_kind(options.output_mode),
                              Direction::FromChild);
  if (!output) return std::unexpected(output.error());
  auto error = set_up_stream(setup.actions(), STDERR_FILENO, stream_kind(options.error_mode),
                             Direction::FromChild);
  if (!error) return std::unexpected(error.error());

  const auto spawned = spawn_found(argv.data(), setup);
  if (!spawned) return std::unexpected(spawned.error());
  const pid_t pid = *spawned;
  // Only the child may hold its ends, or our reads would never see end of file.
  input->child.reset();
  output->child.reset();
  error->child.reset();

  ProcessResult result;
  Cancellation cancellation(options.cancel, pid);
  auto served = serve_pipes(input->parent, options.input, output->parent, result.output,
                            error->parent, result.error, cancellation);
  // Whatever happened to the pipes, the child is reaped; closing our ends lets it finish.
  input->parent.reset();
  output->parent.reset();
  error->parent.reset();
  auto status = wait_for(pid, cancellation);
  result.cancelled = cancellation.sent();
  if (!served) return std::unexpected(served.error());
  if (!status) return std::unexpected(status.error());
  result.status = decode_wait_status(*status);
  return result;
}

}  // namespace sorvik_lib::sys
