// Runs one program as a child and times it from spawn to reaping: its standard streams on files
// (or its input on a pipe we feed), an optional open-file limit, and its peak memory from wait4.
//
// A note on peak memory. posix_spawn starts the child on our own address space (vfork style),
// and exec folds that space's high-water mark into the child's ru_maxrss. So a child's figure
// can never be below our own peak: the harness keeps itself small (anything big runs in a forked
// child, see compute_in_child) and reports what a child that does nothing shows.
#pragma once

#include <sys/resource.h>

#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sorvik_lib/sys/process.hpp"
#include "sorvik_lib/sys/system_error.hpp"

namespace sorvik_bench {

// Seconds on the monotonic clock, for timing spans.
[[nodiscard]] double now_seconds();

struct ChildLaunch {
  // arguments[0] is the program's absolute path: no search of PATH inside the timed span.
  std::vector<std::string> arguments;
  std::string input_path = "/dev/null";
  std::string output_path = "/dev/null";
  std::string error_path = "/dev/null";
  // When set, standard input is a pipe fed with the contents of `input_path`, streamed through a
  // small buffer, the way an application would write a request.
  bool input_through_pipe = false;
  // The child's soft RLIMIT_NOFILE, when it must differ from ours.
  std::optional<rlim_t> open_files_limit;
};

struct ChildOutcome {
  sorvik_lib::sys::ExitStatus status;
  double seconds = 0;        // wall time from just before the spawn to the reaping
  long peak_memory_kib = 0;  // ru_maxrss of the child
};

[[nodiscard]] std::expected<ChildOutcome, sorvik_lib::sys::SystemError> run_child(
    const ChildLaunch& launch);

// Runs `work` in a forked child and returns what it returned, so that whatever memory it needs
// never counts towards the harness's own peak. An error text when the child fails.
[[nodiscard]] std::expected<std::string, std::string> compute_in_child(
    const std::function<std::string()>& work);

// The absolute path of `program` found on PATH (or `program` itself when it holds a slash), or
// nothing when it is not there.
[[nodiscard]] std::optional<std::string> find_program(std::string_view program);

}  // namespace sorvik_bench
