// A cleaning list of many separate paths (files, one-file folders, paths that do not exist): the
// helper with one request holding them all against `du -sb PATHS && rm -rf PATHS` and
// `rm -rf PATHS`, interleaved run by run on fresh files, and the helper's system calls per path.
#pragma once

#include <string>
#include <vector>

#include "contenders.hpp"
#include "many_paths_build.hpp"
#include "syscall_count.hpp"
#include "tree_bench.hpp"

namespace sorvik_bench {

struct ManyPathsResult {
  ManyPathsKind kind;
  std::size_t paths = 0;
  std::vector<ContenderSamples> contenders;  // du -sb && rm -rf, rm -rf, the helper
  SyscallColumn helper_calls;                // one traced run of the helper
  bool through_xargs = false;  // the list was longer than one exec takes, so xargs split it
  std::string failure;         // the harness itself could not go on with this workload
};

// Builds every workload under `location`'s folder, `runs` times for each contender.
[[nodiscard]] std::vector<ManyPathsResult> run_many_paths_bench(const Tools& tools,
                                                                const Location& location, int runs,
                                                                const std::string& work);

[[nodiscard]] std::string render_many_paths(const std::vector<ManyPathsResult>& results,
                                            const std::string& location);

}  // namespace sorvik_bench
