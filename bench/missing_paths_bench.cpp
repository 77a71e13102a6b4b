// The missing-paths request: built once, written to a file, fed on standard input to each program
// in turn (and to the helper once more through a pipe, the way an application streams it).
#include "missing_paths_bench.hpp"

#include <fmt/format.h>

#include "child_run.hpp"
#include "file_io.hpp"
#include "sorvik_lib/sys/io.hpp"
#include "sorvik_lib/sys/memory.hpp"
#include "sorvik_lib/types/wire.hpp"
#include "summary.hpp"

namespace sorvik_bench {
namespace {

using sorvik_lib::types::ElevatedCleanRequest;
using sorvik_lib::types::SidecarRequest;

std::string build_request(const std::string& work, std::size_t paths) {
  ElevatedCleanRequest request;
  request.paths.reserve(paths);
  for (std::size_t i = 0; i < paths; ++i) {
    request.paths.push_back(fmt::format("{}/absent/{:04}/{:07}.cache", work, i / 1000, i));
  }
  auto encoded = sorvik_lib::types::encode_request(SidecarRequest(std::move(request)));
  return encoded ? std::move(*encoded) : std::string();
}

void record(ProgramSamples& samples, const ChildLaunch& launch) {
  const auto ran = run_child(launch);
  std::string problem;
  if (!ran) {
    problem = "could not be run: " + ran.error().message();
  } else {
    samples.seconds.push_back(ran->seconds);
    samples.peak_memory_bytes.push_back(static_cast<double>(ran->peak_memory_kib) * 1024);
    if (!ran->status.success()) problem = "ended with " + ran->status.to_string();
  }
  if (problem.empty()) {
    // Every path is missing, so the one right answer is the empty result.
    const auto output = sorvik_lib::sys::read_file(launch.output_path.c_str());
    if (!output || *output != std::string(24, '\0'))
      problem = "did not answer with the empty result";
  }
  if (problem.empty()) return;
  ++samples.invalid_runs;
  if (samples.problem.empty()) samples.problem = problem;
}

}  // namespace

MissingPathsResult run_missing_paths_bench(const Tools& tools, std::size_t paths, int runs,
                                           const std::string& work) {
  MissingPathsResult result;
  result.paths = paths;
  const std::string request_path = work + "/missing-request";
  fmt::print(stderr, "[missing paths] building a request of {} paths\n", paths);
  // Built in a forked child: the request and its million strings must not raise the harness's
  // own peak, which every spawned child inherits in its ru_maxrss.
  const auto built = compute_in_child([&]() -> std::string {
    const std::string request = build_request(work, paths);
    if (request.empty() || !write_file(request_path, request)) return {};
    return std::to_string(request.size());
  });
  if (!built || built->empty()) {
    result.failure =
        "the request could not be built: " + (built ? "encoding failed" : built.error());
    return result;
  }
  result.request_bytes = std::stoull(*built);
  ChildLaunch floor;
  floor.arguments = {tools.floor};
  floor.input_path = request_path;
  floor.output_path = work + "/missing-floor-result";
  ChildLaunch helper;
  helper.arguments = {tools.helper};
  helper.input_path = request_path;
  helper.output_path = work + "/missing-helper-result";
  ChildLaunch helper_piped = helper;
  helper_piped.input_through_pipe = true;
  ChildLaunch idle;
  idle.arguments = {tools.cat, "/dev/null"};
  idle.output_path = work + "/missing-idle-result";
  result.programs = {{"two-stat floor (C), request file on stdin", {}, {}, 0, {}},
                     {"sorvik_helper, request file on stdin", {}, {}, 0, {}},
                     {"sorvik_helper, request on a pipe", {}, {}, 0, {}}};
  for (int run = 0; run < runs; ++run) {
    fmt::print(stderr, "[missing paths] run {} of {}\n", run + 1, runs);
    record(result.programs[0], floor);
    record(result.programs[1], helper);
    record(result.programs[2], helper_piped);
    if (const auto ran = run_child(idle)) {
      result.idle_peak_memory_bytes.push_back(static_cast<double>(ran->peak_memory_kib) * 1024);
    }
    // The decode alone, in a fresh process like the helper's (its memory is touched for the first
    // time), then once more on memory that the first decode has already faulted in.
    const auto decoded = compute_in_child([&]() -> std::string {
      const auto bytes = sorvik_lib::sys::read_file(request_path.c_str());
      if (!bytes) return {};
      // Readied as the helper readies it before decoding.
      sorvik_lib::sys::prepare_heap_for(2 * bytes->size());
      double started = now_seconds();
      auto first = sorvik_lib::types::decode_request(*bytes);
      const double cold = now_seconds() - started;
      if (!first) return {};
      first = std::unexpected(sorvik_lib::types::DecodeError{});
      started = now_seconds();
      const auto second = sorvik_lib::types::decode_request(*bytes);
      const double warm = now_seconds() - started;
      return fmt::format("{} {}", cold, warm);
    });
    if (!decoded || decoded->empty()) {
      result.failure = "the library does not decode its own request";
      continue;
    }
    const auto space = decoded->find(' ');
    result.cold_decode_seconds.push_back(std::stod(decoded->substr(0, space)));
    result.warm_decode_seconds.push_back(std::stod(decoded->substr(space + 1)));
  }
  return result;
}

std::string render_missing_paths(const MissingPathsResult& result) {
  std::string out = fmt::format(
      "Missing paths: a request of {} absolute paths that do not exist, {} bytes ({}):\n",
      result.paths, result.request_bytes, format_bytes(result.request_bytes));
  if (!result.failure.empty()) out += "  stopped: " + result.failure + "\n";
  if (result.programs.empty()) return out;
  const double floor_median = spread_of(result.programs[0].seconds).median;
  TextTable table({"program", "median ms", "min ms", "max ms", "ratio", "peak memory", "x request",
                   "valid runs"},
                  1);
  for (const auto& program : result.programs) {
    const Spread time = spread_of(program.seconds);
    const Spread memory = spread_of(program.peak_memory_bytes);
    table.add_row(
        {program.label, format_ms(time.median), format_ms(time.min), format_ms(time.max),
         format_ratio(time.median, floor_median),
         format_bytes(static_cast<std::uint64_t>(memory.max)),
         format_ratio(memory.max, static_cast<double>(result.request_bytes)),
         fmt::format("{}/{}{}", time.count - static_cast<std::size_t>(program.invalid_runs),
                     time.count, program.invalid_runs ? " !" : "")});
  }
  out += table.render();
  for (const auto& [label, samples] : {std::pair{"fresh process", &result.cold_decode_seconds},
                                       std::pair{"memory reused", &result.warm_decode_seconds}}) {
    const Spread decode = spread_of(*samples);
    out += fmt::format(
        "decode_request alone, {}: median {} ms (min {}, max {}), {:.0f} MB/s\n", label,
        format_ms(decode.median), format_ms(decode.min), format_ms(decode.max),
        decode.median > 0 ? static_cast<double>(result.request_bytes) / decode.median / 1e6 : 0.0);
  }
  out += fmt::format(
      "ratio = median / median of the floor; peak memory = largest ru_maxrss of the runs; a\n"
      "program that does nothing (cat /dev/null) shows {} here, the harness's own footprint.\n",
      format_bytes(static_cast<std::uint64_t>(spread_of(result.idle_peak_memory_bytes).max)));
  for (const auto& program : result.programs) {
    if (program.invalid_runs == 0) continue;
    out += fmt::format("  ! {}: {} runs invalid: {}\n", program.label, program.invalid_runs,
                       program.problem);
  }
  return out;
}

}  // namespace sorvik_bench
