// Start-up: the helper with an empty elevated request against `cat /dev/null`, the cheapest run
// of a program the system has, many runs interleaved.
#pragma once

#include <string>
#include <vector>

#include "contenders.hpp"

namespace sorvik_bench {

struct StartupResult {
  std::vector<double> helper_seconds;
  std::vector<double> cat_seconds;
  std::vector<std::string> problems;  // distinct problems of invalid helper runs
  int invalid_runs = 0;
};

[[nodiscard]] StartupResult run_startup_bench(const Tools& tools, int runs,
                                              const std::string& work);

[[nodiscard]] std::string render_startup(const StartupResult& result);

}  // namespace sorvik_bench
