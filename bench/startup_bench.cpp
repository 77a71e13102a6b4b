// Start-up timing. Both programs get the same standard streams (a file in, a file out), so the
// difference is the helper's own start, intake and exit.
#include "startup_bench.hpp"

#include <fmt/format.h>

#include <algorithm>

#include "child_run.hpp"
#include "file_io.hpp"
#include "sorvik_lib/sys/io.hpp"
#include "sorvik_lib/types/wire.hpp"
#include "summary.hpp"

namespace sorvik_bench {
namespace {

constexpr int kWarmUpRuns = 5;

void note(StartupResult& result, std::string problem) {
  ++result.invalid_runs;
  if (std::ranges::find(result.problems, problem) == result.problems.end()) {
    result.problems.push_back(std::move(problem));
  }
}

}  // namespace

StartupResult run_startup_bench(const Tools& tools, int runs, const std::string& work) {
  StartupResult result;
  ChildLaunch helper;
  helper.arguments = {tools.helper};
  helper.input_path = work + "/startup-request";
  helper.output_path = work + "/startup-result";
  ChildLaunch cat;
  cat.arguments = {tools.cat, "/dev/null"};
  cat.input_path = "/dev/null";
  cat.output_path = work + "/startup-cat";
  const auto request = sorvik_lib::types::encode_request(
      sorvik_lib::types::SidecarRequest(sorvik_lib::types::ElevatedCleanRequest{}));
  if (!request) {
    note(result, "the empty request could not be encoded");
    return result;
  }
  if (auto written = write_file(helper.input_path, *request); !written) {
    note(result, "the empty request could not be written: " + written.error().message());
    return result;
  }
  fmt::print(stderr, "[start-up] {} runs of each\n", runs);
  for (int run = -kWarmUpRuns; run < runs; ++run) {
    const auto helper_run = run_child(helper);
    const auto cat_run = run_child(cat);
    if (run < 0) continue;
    if (!helper_run || !cat_run) {
      note(result, "a child could not be started");
      continue;
    }
    result.helper_seconds.push_back(helper_run->seconds);
    result.cat_seconds.push_back(cat_run->seconds);
    if (!helper_run->status.success()) {
      note(result, "the helper ended with " + helper_run->status.to_string());
      continue;
    }
    const auto output = sorvik_lib::sys::read_file(helper.output_path.c_str());
    // An empty request has one right answer: the empty result, 24 zero bytes.
    if (!output || *output != std::string(24, '\0')) {
      note(result, "the helper's answer to an empty request is not the empty result");
    }
  }
  return result;
}

std::string render_startup(const StartupResult& result) {
  const Spread helper = spread_of(result.helper_seconds);
  const Spread cat = spread_of(result.cat_seconds);
  TextTable table({"program", "median ms", "min ms", "max ms", "ratio", "runs"}, 1);
  table.add_row({"cat /dev/null", format_ms(cat.median), format_ms(cat.min), format_ms(cat.max),
                 "1.00x", fmt::format("{}", cat.count)});
  table.add_row({"sorvik_helper, empty request", format_ms(helper.median), format_ms(helper.min),
                 format_ms(helper.max), format_ratio(helper.median, cat.median),
                 fmt::format("{}{}", helper.count, result.invalid_runs ? " !" : "")});
  std::string out = "Start-up (interleaved, after warm-up runs):\n" + table.render();
  for (const auto& problem : result.problems) {
    out += fmt::format("  ! {} of {} helper runs invalid: {}\n", result.invalid_runs, helper.count,
                       problem);
  }
  return out;
}

}  // namespace sorvik_bench
