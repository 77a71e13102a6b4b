// System calls per entry on the `small` tree, counted with `strace -c -f`, for the helper next to
// GNU rm -rf and du -sb (and find -delete), plus the helper's start-up alone.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "child_run.hpp"
#include "contenders.hpp"
#include "tree_bench.hpp"

namespace sorvik_bench {

struct SyscallColumn {
  std::string label;
  std::map<std::string, std::uint64_t> calls;  // by system call name
  std::uint64_t total = 0;
  std::string problem;
};

struct SyscallResult {
  TreeCount count;
  std::vector<SyscallColumn> columns;
  std::string failure;
};

[[nodiscard]] SyscallResult count_syscalls(const Tools& tools, const Location& location,
                                           const std::string& work);

// Runs `launch` under `strace -c -f` and returns the summary's columns; the child's own problems
// (it could not be run, a bad status) are noted in the column.
[[nodiscard]] SyscallColumn trace_syscalls(const Tools& tools, std::string label,
                                           ChildLaunch launch, const std::string& summary_path);

// Parses the summary table `strace -c` writes: calls by name, and the total.
[[nodiscard]] SyscallColumn parse_strace_summary(std::string label, std::string_view summary);

[[nodiscard]] std::string render_syscalls(const SyscallResult& result);

}  // namespace sorvik_bench
