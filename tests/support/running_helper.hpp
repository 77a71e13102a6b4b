// The helper started in the background with standard streams the test chose, for tests that
// signal it at a given stage and then wait, for a bounded time, for it to end.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sorvik_test {

class RunningHelper {
 public:
  // Starts the helper with `arguments` after its name, `input_fd` as its standard input and
  // `output_fd` as its standard output; its standard error goes to a pipe read in wait_for_exit.
  RunningHelper(std::vector<std::string> arguments, int input_fd, int output_fd);
  // Kills the helper (SIGKILL) and reaps it if it is still running.
  ~RunningHelper();
  RunningHelper(const RunningHelper&) = delete;
  RunningHelper& operator=(const RunningHelper&) = delete;

  [[nodiscard]] pid_t pid() const { return pid_; }

  // Waits, up to `limit`, until the helper has installed its handlers for SIGINT and SIGTERM (as
  // /proc tells); false if it has not by then. Linux only.
  [[nodiscard]] bool wait_until_it_catches_stop_signals(std::chrono::milliseconds limit) const;

  // Waits up to `limit` for the helper to end: its wait status, or nothing if it still runs.
  [[nodiscard]] std::optional<int> wait_for_exit(std::chrono::milliseconds limit);

  // What the helper wrote to standard error, read once it has ended.
  [[nodiscard]] const std::string& error_output() const { return error_output_; }

 private:
  pid_t pid_ = -1;
  int error_fd_ = -1;
  std::string error_output_;
};

// Polls `condition` every few milliseconds until it holds or `limit` has passed; whether it held.
[[nodiscard]] bool wait_until(const std::function<bool()>& condition,
                              std::chrono::milliseconds limit);

}  // namespace sorvik_test
