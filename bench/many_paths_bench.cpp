// Running, checking and reporting the many-paths table. Every contender gets the same list in the
// same order; a run is valid when the files are gone, the folders holding them are not, and the
// helper's result lists exactly the existing paths it was given, bytesFreed equal to their sum.
#include "many_paths_bench.hpp"

#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "child_run.hpp"
#include "file_io.hpp"
#include "sorvik_lib/sys/io.hpp"
#include "sorvik_lib/types/wire.hpp"
#include "summary.hpp"

extern char** environ;

namespace sorvik_bench {
namespace {

using sorvik_lib::types::ElevatedCleanRequest;
using sorvik_lib::types::SidecarRequest;

constexpr Contender kContenders[] = {Contender::DuThenRm, Contender::Rm, Contender::Helper};

// The goals the helper is held to, helper/(du+rm) and helper/rm; 0 where there is none.
struct Goals {
  double du_rm = 0;
  double rm = 0;
};

Goals goals_of(ManyPathsKind kind) {
  switch (kind) {
    case ManyPathsKind::Files:
      return {1.0, 1.6};
    case ManyPathsKind::OneFileFolders:
      return {0.8, 1.25};
    case ManyPathsKind::Missing:
      return {};
  }
  return {};
}

bool exists(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0;
}

// Whether `paths` fit in the argument list of one exec, beside the environment and the margin
// xargs keeps for itself.
bool fits_one_exec(const std::vector<std::string>& paths) {
  std::size_t bytes = 2048;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    bytes += std::strlen(*entry) + 1 + sizeof(char*);
  }
  for (const auto& path : paths) bytes += path.size() + 1 + sizeof(char*);
  return static_cast<long>(bytes) <= ::sysconf(_SC_ARG_MAX);
}

std::string request_for_all(const std::vector<std::string>& paths) {
  ElevatedCleanRequest request;
  request.paths = paths;
  auto encoded = sorvik_lib::types::encode_request(SidecarRequest(std::move(request)));
  return encoded ? std::move(*encoded) : std::string();
}

// What is wrong with the helper's output for `workload`, or empty.
std::string check_result(std::string_view output, ManyPathsKind kind, const Workload& workload) {
  const auto result = sorvik_lib::types::decode_result(output);
  if (!result) return "the helper's output is not a result: " + result.error().message;
  if (const auto reencoded = sorvik_lib::types::encode_result(*result);
      reencoded && reencoded->size() != output.size()) {
    return fmt::format("the helper wrote {} bytes beyond its result",
                       output.size() - reencoded->size());
  }
  std::vector<std::string> problems;
  const auto expected =
      kind == ManyPathsKind::Missing ? std::vector<std::string>{} : workload.paths;
  if (result->removed != expected) {
    problems.push_back(fmt::format("removed lists {} paths, not the {} given in order",
                                   result->removed.size(), expected.size()));
  }
  if (!result->errors.empty()) {
    problems.push_back(fmt::format("{} error entries, the first: {}: {}", result->errors.size(),
                                   result->errors.front().path, result->errors.front().message));
  }
  if (result->bytesFreed != workload.bytes) {
    problems.push_back(
        fmt::format("bytesFreed {} but the files hold {}", result->bytesFreed, workload.bytes));
  }
  std::string joined;
  for (const auto& problem : problems) joined += (joined.empty() ? "" : "; ") + problem;
  return joined;
}

// Where one contender's run reads its list and the helper its request, and writes its output.
struct RunFiles {
  std::string list;  // the paths, NUL-separated, for xargs; empty when they fit one exec
  std::string request, output, errors;
};

// `program flag PATHS...`, or the same through xargs reading `files.list`.
std::vector<std::string> command_for(const Tools& tools, const std::string& program,
                                     const char* flag, const Workload& workload,
                                     const RunFiles& files) {
  if (!files.list.empty()) return {tools.xargs, "-0", "-a", files.list, "--", program, flag};
  std::vector<std::string> arguments = {program, flag};
  arguments.insert(arguments.end(), workload.paths.begin(), workload.paths.end());
  return arguments;
}

// What a child's exit status may be. A du that reports paths it cannot find ends with 1 (123
// through xargs), the one right status on missing paths.
enum class Expect { Success, MissingReported };

// Runs `launch`, adds its time to `seconds` and returns its problem, if any.
std::string run_timed(const std::string& label, const ChildLaunch& launch, Expect expect,
                      double& seconds) {
  const auto ran = run_child(launch);
  if (!ran) return fmt::format("{} could not be run: {}", label, ran.error().message());
  seconds += ran->seconds;
  if (ran->status.success()) return {};
  if (expect == Expect::MissingReported &&
      ran->status.kind == sorvik_lib::sys::ExitStatus::Kind::Exited &&
      (ran->status.value == 1 || ran->status.value == 123)) {
    return {};
  }
  return fmt::format("{} ended with {}", label, ran->status.to_string());
}

RunOutcome run_helper(const Tools& tools, ManyPathsKind kind, const Workload& workload,
                      const RunFiles& files) {
  RunOutcome outcome;
  ChildLaunch launch;
  launch.arguments = {tools.helper};
  launch.input_path = files.request;
  launch.output_path = files.output;
  launch.error_path = files.errors;
  outcome.problem = run_timed("the helper", launch, Expect::Success, outcome.seconds);
  if (!outcome.problem.empty()) return outcome;
  const auto output = sorvik_lib::sys::read_file(files.output.c_str());
  const auto errors = sorvik_lib::sys::read_file(files.errors.c_str());
  if (!output) {
    outcome.problem = "the helper's output could not be read: " + output.error().message();
  } else if (errors && !errors->empty()) {
    outcome.problem = fmt::format("the helper wrote {} bytes to standard error", errors->size());
  } else {
    outcome.problem = check_result(*output, kind, workload);
  }
  return outcome;
}

// One timed run of `contender`: the helper, `du -sb` then `rm -rf`, or `rm -rf` alone.
RunOutcome run_one(Contender contender, const Tools& tools, ManyPathsKind kind,
                   const Workload& workload, const RunFiles& files) {
  if (contender == Contender::Helper) return run_helper(tools, kind, workload, files);
  RunOutcome outcome;
  ChildLaunch launch;
  if (contender == Contender::DuThenRm) {
    launch.arguments = command_for(tools, tools.du, "-sb", workload, files);
    const Expect expect =
        kind == ManyPathsKind::Missing ? Expect::MissingReported : Expect::Success;
    outcome.problem = run_timed("du -sb", launch, expect, outcome.seconds);
    if (!outcome.problem.empty()) return outcome;
  }
  launch.arguments = command_for(tools, tools.rm, "-rf", workload, files);
  outcome.problem = run_timed("rm -rf", launch, Expect::Success, outcome.seconds);
  return outcome;
}

// What the run left wrong on the disk: a given path still there, a folder holding them gone.
std::string check_leftovers(const Workload& workload) {
  const auto left = std::ranges::count_if(workload.paths, exists);
  const auto gone =
      std::ranges::count_if(workload.folders, [](const auto& f) { return !exists(f); });
  std::string problem;
  if (left > 0) problem = fmt::format("{} of the paths are still there", left);
  if (gone > 0) {
    problem +=
        fmt::format("{}{} of the folders holding them are gone", problem.empty() ? "" : "; ", gone);
  }
  return problem;
}

// Builds `kind` afresh at `root` and writes the files a run reads: the request, and the list
// for xargs when the paths do not fit one exec (`files.list` is then set, else cleared).
[[nodiscard]] std::expected<Workload, std::string> prepare(ManyPathsKind kind,
                                                           const std::string& root,
                                                           const std::string& work,
                                                           RunFiles& files) {
  auto workload = build_workload(kind, root);
  if (!workload) return std::unexpected("building the paths failed: " + workload.error().message());
  const std::string request = request_for_all(workload->paths);
  if (request.empty()) return std::unexpected(std::string("the request could not be encoded"));
  if (auto written = write_file(files.request, request); !written) {
    return std::unexpected("the request could not be written: " + written.error().message());
  }
  files.list.clear();
  if (fits_one_exec(workload->paths)) return std::move(*workload);
  files.list = work + "/many-list";
  std::string list;
  for (const auto& path : workload->paths) list += path + '\0';
  if (auto written = write_file(files.list, list); !written) {
    return std::unexpected("the list could not be written: " + written.error().message());
  }
  return std::move(*workload);
}

// One traced run of the helper on a fresh build of `kind`.
void trace_helper(const Tools& tools, const Location& location, const std::string& work,
                  RunFiles& files, ManyPathsResult& result) {
  if (!tools.strace) {
    result.helper_calls.problem = "strace not found on PATH";
    return;
  }
  const std::string root =
      *location.scratch / fmt::format("many-traced-{}", static_cast<int>(result.kind));
  const auto workload = prepare(result.kind, root, work, files);
  if (!workload) {
    result.helper_calls.problem = workload.error();
  } else {
    ChildLaunch launch;
    launch.arguments = {tools.helper};
    launch.input_path = files.request;
    launch.output_path = files.output;
    result.helper_calls =
        trace_syscalls(tools, "sorvik_helper", launch, work + "/many-strace-summary");
    if (result.helper_calls.problem.empty()) {
      const auto output = sorvik_lib::sys::read_file(files.output.c_str());
      result.helper_calls.problem =
          output ? check_result(*output, result.kind, *workload) : "its output could not be read";
    }
  }
  if (auto removed = location.scratch->remove_inside(root); !removed) {
    result.failure = removed.error();
  }
}

}  // namespace

std::vector<ManyPathsResult> run_many_paths_bench(const Tools& tools, const Location& location,
                                                  int runs, const std::string& work) {
  std::vector<ManyPathsResult> results;
  RunFiles files{{}, work + "/many-request", work + "/many-result", work + "/many-errors"};
  for (const ManyPathsKind kind : kManyPathsKinds) {
    ManyPathsResult result{kind, 0, {}, {}, false, {}};
    for (const Contender contender : kContenders) result.contenders.push_back({contender, {}, {}});
    for (int run = 0; run < runs && result.failure.empty(); ++run) {
      fmt::print(stderr, "[many paths] {}: run {} of {}\n", workload_name(kind), run + 1, runs);
      for (auto& samples : result.contenders) {
        const std::string root =
            *location.scratch / fmt::format("many-{}-{}-{}", static_cast<int>(kind), run,
                                            static_cast<int>(samples.contender));
        const auto workload = prepare(kind, root, work, files);
        if (!workload) {
          result.failure = workload.error();
        } else {
          result.paths = workload->paths.size();
          result.through_xargs = result.through_xargs || !files.list.empty();
          auto outcome = run_one(samples.contender, tools, kind, *workload, files);
          const std::string leftovers = check_leftovers(*workload);
          if (!leftovers.empty()) {
            outcome.problem += (outcome.problem.empty() ? "" : "; ") + leftovers;
          }
          samples.seconds.push_back(outcome.seconds);
          samples.problems.push_back(std::move(outcome.problem));
        }
        if (auto removed = location.scratch->remove_inside(root); !removed) {
          result.failure = removed.error();
        }
        if (!result.failure.empty()) break;
      }
    }
    if (result.failure.empty()) trace_helper(tools, location, work, files, result);
    results.push_back(std::move(result));
  }
  return results;
}

namespace {

std::string format_goal(double goal) { return goal > 0 ? fmt::format("<= {:.2f}x", goal) : "-"; }

// "newfstatat 2.00, unlinkat 1.00": the calls made at least 0.02 times a path, most first.
std::string top_calls(const SyscallColumn& column, double paths) {
  std::vector<std::pair<std::uint64_t, std::string>> calls;
  for (const auto& [name, count] : column.calls) {
    if (static_cast<double>(count) / paths >= 0.02) calls.emplace_back(count, name);
  }
  std::ranges::sort(calls, std::greater{});
  std::string out;
  for (const auto& [count, name] : calls) {
    out += fmt::format("{}{} {:.2f}", out.empty() ? "" : ", ", name,
                       static_cast<double>(count) / paths);
  }
  return out;
}

}  // namespace

std::string render_many_paths(const std::vector<ManyPathsResult>& results,
                              const std::string& location) {
  std::string out = fmt::format(
      "Many paths on {}: every path in one request (the helper) or one argument list (du, rm),\n"
      "each run on fresh files, creation not timed:\n",
      location);
  for (const auto kind : kManyPathsKinds) {
    out += fmt::format("  {:<16}  {}\n", workload_name(kind), describe_workload(kind));
  }
  TextTable times({"workload", "contender", "median ms", "min ms", "max ms", "valid runs"}, 2);
  TextTable ratios({"workload", "helper/(du+rm)", "goal", "helper/rm", "goal", "helper calls/path"},
                   1);
  std::string calls;
  std::string notes;
  for (const auto& result : results) {
    const std::string name(workload_name(result.kind));
    for (const auto& samples : result.contenders) {
      std::vector<double> valid;
      std::map<std::string, int> problems;
      for (std::size_t i = 0; i < samples.seconds.size(); ++i) {
        if (samples.problems[i].empty()) {
          valid.push_back(samples.seconds[i]);
        } else {
          ++problems[samples.problems[i]];
        }
      }
      const Spread spread = spread_of(valid);
      times.add_row({samples.contender == result.contenders.front().contender ? name : "",
                     std::string(contender_label(samples.contender)),
                     spread.count ? format_ms(spread.median) : "-",
                     spread.count ? format_ms(spread.min) : "-",
                     spread.count ? format_ms(spread.max) : "-",
                     fmt::format("{}/{}{}", valid.size(), samples.seconds.size(),
                                 problems.empty() ? "" : " !")});
      for (const auto& [problem, count] : problems) {
        notes +=
            fmt::format("  ! {}, {}: {} of {} runs invalid: {}\n", name,
                        contender_label(samples.contender), count, samples.seconds.size(), problem);
      }
    }
    const double helper = valid_median(result.contenders, Contender::Helper);
    const Goals goals = goals_of(result.kind);
    const double paths = static_cast<double>(std::max<std::size_t>(result.paths, 1));
    const SyscallColumn& traced = result.helper_calls;
    const bool counted = traced.total > 0 && traced.problem.empty();
    // Without a valid run of both sides a ratio means nothing and shows as "-".
    const auto ratio_to = [&](Contender baseline) {
      return helper > 0 ? format_ratio(helper, valid_median(result.contenders, baseline)) : "-";
    };
    ratios.add_row(
        {name, ratio_to(Contender::DuThenRm), format_goal(goals.du_rm), ratio_to(Contender::Rm),
         format_goal(goals.rm),
         counted ? fmt::format("{:.2f}", static_cast<double>(traced.total) / paths) : "-"});
    if (counted) calls += fmt::format("  {:<16}  {}\n", name, top_calls(traced, paths));
    if (!traced.problem.empty()) {
      notes += fmt::format("  ! {}, the traced helper run: {}\n", name, traced.problem);
    }
    if (result.through_xargs) {
      notes += fmt::format(
          "  {}: the paths exceed one exec's argument list, so du and rm got them through\n"
          "    xargs -0 (several runs of each, all timed)\n",
          name);
    }
    if (!result.failure.empty()) notes += fmt::format("  {}: stopped: {}\n", name, result.failure);
  }
  out += "\n" + times.render() + "\n" + ratios.render();
  out +=
      "\nratios are of medians of valid runs; the goals are the helper's targets, shown, not\n"
      "enforced. A run is valid when every path given is gone, the folders holding them are not,\n"
      "and the helper lists exactly the paths it removed with bytesFreed equal to the files' sum.\n"
      "helper calls/path = all system calls of one helper run (start-up included, strace -c -f)\n"
      "over the paths given; the calls made at least 0.02 times a path:\n" +
      (calls.empty() ? "  none counted\n" : calls);
  if (!notes.empty()) out += "\n" + notes;
  return out;
}

}  // namespace sorvik_bench
