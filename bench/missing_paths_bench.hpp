// A request of many absolute paths that do not exist (1,000,000 by default, about 60 MB): the
// helper against a C program that reads the same bytes and stats each path twice, the floor for
// screening and cleaning. Time and peak memory of both, and the decode alone in this process.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "contenders.hpp"

namespace sorvik_bench {

struct ProgramSamples {
  std::string label;
  std::vector<double> seconds;
  std::vector<double> peak_memory_bytes;
  int invalid_runs = 0;
  std::string problem;  // the first problem seen
};

struct MissingPathsResult {
  std::size_t paths = 0;
  std::size_t request_bytes = 0;
  std::vector<ProgramSamples> programs;        // the floor first
  std::vector<double> cold_decode_seconds;     // decode_request in a fresh process
  std::vector<double> warm_decode_seconds;     // the same, on memory already faulted in
  std::vector<double> idle_peak_memory_bytes;  // ru_maxrss of a program that does nothing
  std::string failure;
};

// The paths are named under `work`/absent, a folder that is never made.
[[nodiscard]] MissingPathsResult run_missing_paths_bench(const Tools& tools, std::size_t paths,
                                                         int runs, const std::string& work);

[[nodiscard]] std::string render_missing_paths(const MissingPathsResult& result);

}  // namespace sorvik_bench
