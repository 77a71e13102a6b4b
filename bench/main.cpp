// `sorvik_bench`: times the helper against the tools a user would otherwise reach for, on trees
// made fresh for every run, and prints one report: the tree table, system calls per entry,
// start-up, a request of a million missing paths against the two-stat floor, and cleaning lists
// of many separate paths.
#include <fmt/format.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <functional>
#include <optional>

#include "child_run.hpp"
#include "contenders.hpp"
#include "many_paths_bench.hpp"
#include "missing_paths_bench.hpp"
#include "scratch_dir.hpp"
#include "startup_bench.hpp"
#include "syscall_count.hpp"
#include "tree_bench.hpp"
#include "tree_build.hpp"

namespace {

using namespace sorvik_bench;

struct Options {
  int runs = 5;
  int disk_runs = 3;
  int startup_runs = 200;
  int missing_runs = 3;
  int many_runs = 5;
  std::size_t missing_paths = 1'000'000;
  std::vector<std::string> trees = {"wide", "small", "deep", "mixed"};
  // Deleting on this disk costs up to milliseconds a file (ext4 discards freed blocks as it
  // goes) and varies tenfold from run to run, so only `small` runs there by default: one run of
  // `wide` alone takes minutes, and `mixed` often some fifteen seconds a contender.
  std::vector<std::string> disk_trees = {"small"};
  double disk_budget = 120;
  std::vector<std::string> locations = {"tmpfs", "disk"};
  std::vector<std::string> sections = {"trees", "syscalls", "startup", "missing", "many"};
  bool quick = false;
  bool full = false;
  std::string helper = SORVIK_BENCH_HELPER;
  std::string portable_helper;  // none unless given
  std::string floor = SORVIK_BENCH_FLOOR;
  std::string disk_dir = SORVIK_BENCH_DISK_DIR;
  std::string tmpfs_dir = "/dev/shm";
};

bool wanted(const std::vector<std::string>& list, std::string_view name) {
  return std::ranges::find(list, name) != list.end();
}

std::string machine_line() {
  utsname name{};
  ::uname(&name);
  return fmt::format("{} {} on {}, {} cores online", name.sysname, name.release, name.machine,
                     ::sysconf(_SC_NPROCESSORS_ONLN));
}

int run(const Options& options) {
  auto tools = find_tools(options.helper, options.floor, options.portable_helper);
  if (!tools) {
    fmt::print(stderr, "sorvik_bench: {}\n", tools.error());
    return 1;
  }
  // Fresh folders of our own for each location; nothing outside them is ever deleted.
  std::vector<ScratchDir> scratches;
  std::vector<Location> locations;
  for (const auto& name : options.locations) {
    const std::string parent = name == "disk" ? options.disk_dir : options.tmpfs_dir;
    auto scratch = ScratchDir::create(parent);
    if (!scratch) {
      fmt::print(stderr, "sorvik_bench: no fresh folder under {}: {}\n", parent,
                 scratch.error().message());
      return 1;
    }
    scratches.push_back(std::move(*scratch));
  }
  // The work folder (requests, outputs) sits on tmpfs when there is one, so that it stays out of
  // the disk's way.
  auto work = ScratchDir::create(::access(options.tmpfs_dir.c_str(), W_OK) == 0 ? options.tmpfs_dir
                                                                                : options.disk_dir);
  if (!work) {
    fmt::print(stderr, "sorvik_bench: no work folder: {}\n", work.error().message());
    return 1;
  }
  for (std::size_t i = 0; i < scratches.size(); ++i) {
    const bool disk = options.locations[i] == "disk";
    Location location{options.locations[i],
                      &scratches[i],
                      scratches[i] / "outside",
                      disk,
                      {},
                      disk ? options.disk_runs : options.runs,
                      disk ? options.disk_budget : 0};
    for (const auto& name : disk ? options.disk_trees : options.trees) {
      location.trees.push_back(*parse_tree_kind(name));
    }
    if (auto made = make_outside_witness(location.outside); !made) {
      fmt::print(stderr, "sorvik_bench: {}: {}\n", location.outside, made.error().message());
      return 1;
    }
    locations.push_back(std::move(location));
  }

  const double started = now_seconds();
  std::string report = fmt::format("sorvik_bench: {}\nhelper {}\n", machine_line(), tools->helper);
  if (tools->portable_helper)
    report += fmt::format("portable helper {}\n", *tools->portable_helper);
  for (const auto& location : locations) {
    std::string trees;
    for (const auto kind : location.trees)
      trees += (trees.empty() ? "" : ", ") + std::string(tree_name(kind));
    report += fmt::format("{}: {} runs of {} under {}\n", location.name, location.runs, trees,
                          location.scratch->path());
  }
  std::string timings;
  const auto timed = [&](std::string_view section, const std::function<std::string()>& body) {
    const double section_started = now_seconds();
    report += "\n" + body();
    timings += fmt::format("{} {:.0f} s, ", section, now_seconds() - section_started);
  };
  if (wanted(options.sections, "startup")) {
    timed("start-up", [&] {
      return render_startup(run_startup_bench(*tools, options.startup_runs, work->path()));
    });
  }
  if (wanted(options.sections, "missing")) {
    timed("missing paths", [&] {
      return render_missing_paths(run_missing_paths_bench(*tools, options.missing_paths,
                                                          options.missing_runs, work->path()));
    });
  }
  // After the missing-paths section, whose peak memory figures count the harness's own peak.
  if (wanted(options.sections, "many") && !locations.empty()) {
    timed("many paths", [&] {
      // Deleting on the disk costs up to milliseconds a file and varies tenfold, so these lists
      // run on tmpfs unless it is not among the locations.
      const auto tmpfs = std::ranges::find(locations, "tmpfs", &Location::name);
      const Location& location = tmpfs != locations.end() ? *tmpfs : locations.front();
      return render_many_paths(
          run_many_paths_bench(*tools, location, options.many_runs, work->path()), location.name);
    });
  }
  if (wanted(options.sections, "syscalls") && !locations.empty()) {
    timed("system calls",
          [&] { return render_syscalls(count_syscalls(*tools, locations.front(), work->path())); });
  }
  if (wanted(options.sections, "trees")) {
    timed("trees", [&] {
      TreeBenchPlan plan;
      plan.locations = locations;
      plan.work = work->path();
      return render_tree_table(run_tree_bench(*tools, plan));
    });
  }
  report += fmt::format("\nTime taken: {}total {:.0f} s\n", timings, now_seconds() - started);
  fmt::print("{}", report);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  Options options;
  CLI::App app{"Times sorvik_helper against du -sb && rm -rf, rm -rf and find -delete.",
               "sorvik_bench"};
  app.add_option("--runs", options.runs, "timed runs per tree, location and contender")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  app.add_option("--disk-runs", options.disk_runs, "timed runs per tree and contender on the disk")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  app.add_option("--disk-budget", options.disk_budget,
                 "seconds after which no further run of a tree on the disk starts (0: none)")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
  app.add_option("--startup-runs", options.startup_runs, "start-up runs of each program")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  app.add_option("--missing-runs", options.missing_runs, "runs of the missing-paths request")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  app.add_option("--missing-paths", options.missing_paths, "paths in the missing-paths request")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  app.add_option("--many-runs", options.many_runs,
                 "timed runs per contender of each many-paths list")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  app.add_option("--trees", options.trees, "trees to run on tmpfs: wide, small, deep, mixed")
      ->delimiter(',')
      ->check(CLI::IsMember({"wide", "small", "deep", "mixed"}))
      ->capture_default_str();
  app.add_option("--disk-trees", options.disk_trees, "trees to run on the disk")
      ->delimiter(',')
      ->check(CLI::IsMember({"wide", "small", "deep", "mixed"}))
      ->capture_default_str();
  app.add_option("--locations", options.locations, "where to build trees: tmpfs, disk")
      ->delimiter(',')
      ->check(CLI::IsMember({"tmpfs", "disk"}))
      ->capture_default_str();
  app.add_option("--sections", options.sections,
                 "parts of the report: trees, syscalls, startup, missing, many")
      ->delimiter(',')
      ->check(CLI::IsMember({"trees", "syscalls", "startup", "missing", "many"}))
      ->capture_default_str();
  app.add_flag(
      "--quick", options.quick,
      "one run per tree and many-paths list, 50 start-up runs, one missing-paths run: a smoke "
      "test, not figures");
  app.add_flag(
      "--full", options.full,
      "every tree on the disk too, with as many runs as on tmpfs (half an hour or more here)");
  app.add_option("--helper", options.helper, "the helper to time")->capture_default_str();
  app.add_option("--portable-helper", options.portable_helper,
                 "a portable build of the helper (readdir, no pipe2) to time beside it");
  app.add_option("--floor", options.floor, "the two-stat floor program")->capture_default_str();
  app.add_option("--disk-dir", options.disk_dir, "a folder on the disk for the disk trees")
      ->check(CLI::ExistingDirectory)
      ->capture_default_str();
  app.add_option("--tmpfs-dir", options.tmpfs_dir, "a folder on a tmpfs for the tmpfs trees")
      ->capture_default_str();
  CLI11_PARSE(app, argc, argv);
  if (options.full) {
    options.disk_trees = options.trees;
    options.disk_runs = options.runs;
    options.disk_budget = 0;
  }
  if (options.quick) {
    options.runs = 1;
    options.disk_runs = 1;
    options.startup_runs = 50;
    options.missing_runs = 1;
    options.many_runs = 1;
  }
  return run(options);
}
