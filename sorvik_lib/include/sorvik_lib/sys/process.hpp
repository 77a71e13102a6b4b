// Runs a program as a child process and collects its output and exit status. A program named
// without a "/" is looked up in the absolute entries of the inherited PATH only (never the working
// directory, and nowhere at all without a PATH), and gets its arguments one by one: no shell is
// ever involved. Both output pipes (and the input pipe, when there are bytes to feed) are served
// together with poll(), so a child that writes megabytes to either stream never blocks. The
// environment and working directory are inherited. There is no time-out: the call returns when
// the child has exited and been waited for. A caller that may have to stop early passes a cancel
// flag: the child is then asked to stop (SIGTERM) and still waited for.
#pragma once

#include <atomic>
#include <expected>
#include <span>
#include <string>
#include <string_view>

#include "sorvik_lib/sys/system_error.hpp"

namespace sorvik_lib::sys {

// Where a child's standard input comes from.
enum class InputMode {
  Null,     // the null device: a read sees end of input
  Inherit,  // the caller's own standard input
  Closed,   // not open at all in the child
  Bytes,    // a pipe fed with ProcessOptions::input, then closed
};

// Where one of a child's output streams goes.
enum class OutputMode {
  Capture,  // a pipe, read to its end into ProcessResult
  Null,     // the null device
  Inherit,  // the caller's own stream
  Closed,   // not open at all in the child
};

struct ProcessOptions {
  InputMode input_mode = InputMode::Null;
  // Fed to the child when input_mode is Bytes. A child that exits without reading it all is not
  // an error; the caller must ignore or block SIGPIPE for that case.
  std::string_view input;
  OutputMode output_mode = OutputMode::Capture;
  OutputMode error_mode = OutputMode::Capture;
  // Looked at while the child runs (within sys::kStopCheckInterval of being set): once set, the
  // child gets SIGTERM, its pipes are still drained, and it is waited for however long it takes.
  // Output that a grandchild keeps open is not waited for once the child itself has ended.
  const std::atomic<bool>* cancel = nullptr;
};

// How the child ended.
struct ExitStatus {
  enum class Kind { Exited, Signaled };
  Kind kind = Kind::Exited;
  int value = 0;  // the exit code, or the number of the signal that ended it
  bool core_dumped = false;

  [[nodiscard]] bool success() const { return kind == Kind::Exited && value == 0; }
  // "exit status: 1", or "signal: 9 (SIGKILL)" with ", core dumped" when one was written.
  [[nodiscard]] std::string to_string() const;

  friend bool operator==(const ExitStatus&, const ExitStatus&) = default;
};

[[nodiscard]] ExitStatus decode_wait_status(int wait_status);

struct ProcessResult {
  ExitStatus status;
  std::string output;      // captured standard output (empty unless captured)
  std::string error;       // captured standard error (empty unless captured)
  bool cancelled = false;  // the child was sent SIGTERM because the cancel flag was set
};

// Starts `arguments[0]`, found in PATH's absolute entries (or as given when it holds a "/"), with
// `arguments` as its argument vector, and waits for it. Fails with the system error when the child
// cannot be started (ENOENT when no entry holds the program, EACCES when those that do cannot run
// it), its pipes cannot be served, or it cannot be waited for.
[[nodiscard]] std::expected<ProcessResult, SystemError> run_process(
    std::span<const std::string> arguments, const ProcessOptions& options = {});

}  // namespace sorvik_lib::sys
