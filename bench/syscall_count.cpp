// strace runs on fresh `small` trees and the table of calls per entry.
#include "syscall_count.hpp"

#include <fmt/format.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>
#include <sstream>

#include "child_run.hpp"
#include "file_io.hpp"
#include "sorvik_lib/sys/io.hpp"
#include "sorvik_lib/types/wire.hpp"
#include "summary.hpp"

namespace sorvik_bench {
namespace {

// A call shows as a row of its own when any column makes at least this many per entry.
constexpr double kRowThreshold = 0.02;

bool exists(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0;
}

}  // namespace

SyscallColumn trace_syscalls(const Tools& tools, std::string label, ChildLaunch launch,
                             const std::string& summary_path) {
  std::vector<std::string> arguments = {*tools.strace, "-c", "-f", "-o", summary_path, "--"};
  arguments.insert(arguments.end(), launch.arguments.begin(), launch.arguments.end());
  launch.arguments = std::move(arguments);
  const auto ran = run_child(launch);
  const auto summary = sorvik_lib::sys::read_file(summary_path.c_str());
  SyscallColumn column =
      parse_strace_summary(std::move(label), summary ? std::string_view(*summary) : "");
  if (!ran) {
    column.problem = "strace could not be run: " + ran.error().message();
  } else if (!ran->status.success()) {
    column.problem = "ended with " + ran->status.to_string();
  }
  return column;
}

SyscallColumn parse_strace_summary(std::string label, std::string_view summary) {
  SyscallColumn column;
  column.label = std::move(label);
  std::istringstream lines{std::string(summary)};
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::vector<std::string> fields;
    for (std::string word; words >> word;) fields.push_back(word);
    // "% time seconds usecs/call calls [errors] syscall"; the header and rules do not parse.
    if (fields.size() < 5 || fields.size() > 6) continue;
    std::uint64_t calls = 0;
    const auto& count = fields[3];
    if (count.empty() || !std::ranges::all_of(count, [](char c) { return c >= '0' && c <= '9'; })) {
      continue;
    }
    calls = std::stoull(count);
    if (fields.back() == "total") {
      column.total = calls;
    } else {
      column.calls[fields.back()] += calls;
    }
  }
  return column;
}

SyscallResult count_syscalls(const Tools& tools, const Location& location,
                             const std::string& work) {
  SyscallResult result;
  if (!tools.strace) {
    result.failure = "strace not found on PATH";
    return result;
  }
  const std::string summary_path = work + "/strace-summary";
  // One fresh tree per traced program; du leaves its tree for rm to delete.
  const auto fresh_tree = [&](const std::string& name) -> std::expected<std::string, std::string> {
    const std::string tree = *location.scratch / name;
    const auto made = build_tree(TreeKind::Small, tree, location.outside);
    if (!made) return std::unexpected("building the tree failed: " + made.error().message());
    const auto counted = count_tree(tree);
    if (!counted) return std::unexpected("counting the tree failed: " + counted.error().message());
    result.count = *counted;
    return tree;
  };
  const auto finish = [&](SyscallColumn& column, const std::string& tree, bool must_be_gone) {
    if (must_be_gone && exists(tree)) {
      column.problem +=
          (column.problem.empty() ? "" : "; ") + std::string("did not remove the tree");
    }
    if (exists(tree)) (void)location.scratch->remove_inside(tree);
  };
  fmt::print(stderr, "[system calls] tracing on the small tree\n");

  auto first = fresh_tree("strace-du-rm");
  if (!first) {
    result.failure = first.error();
    return result;
  }
  ChildLaunch launch;
  launch.arguments = {tools.du, "-sb", *first};
  result.columns.push_back(trace_syscalls(tools, "du -sb", launch, summary_path));
  launch.arguments = {tools.rm, "-rf", *first};
  result.columns.push_back(trace_syscalls(tools, "rm -rf", launch, summary_path));
  finish(result.columns.back(), *first, true);
  SyscallColumn both;
  both.label = "du + rm";
  for (const auto& column : {result.columns[0], result.columns[1]}) {
    for (const auto& [name, calls] : column.calls) both.calls[name] += calls;
    both.total += column.total;
  }
  result.columns.push_back(both);

  auto second = fresh_tree("strace-find");
  if (!second) {
    result.failure = second.error();
    return result;
  }
  launch.arguments = {tools.find, *second, "-delete"};
  result.columns.push_back(trace_syscalls(tools, "find -delete", launch, summary_path));
  finish(result.columns.back(), *second, true);

  // Each build of the helper on a tree of its own, its result checked as in the tree table.
  ChildLaunch helper_launch;
  helper_launch.input_path = work + "/strace-request";
  helper_launch.output_path = work + "/strace-result";
  for (const Contender contender : contenders_of(tools)) {
    if (contender != Contender::Helper && contender != Contender::PortableHelper) continue;
    auto tree = fresh_tree(fmt::format("strace-helper-{}", static_cast<int>(contender)));
    if (!tree) {
      result.failure = tree.error();
      return result;
    }
    const auto counted = count_tree(*tree);
    helper_launch.arguments = {helper_of(tools, contender)};
    if (auto written = write_file(helper_launch.input_path, request_for(*tree)); !written) {
      result.failure = "the request could not be written: " + written.error().message();
      return result;
    }
    result.columns.push_back(trace_syscalls(tools, std::string(contender_label(contender)),
                                            helper_launch, summary_path));
    auto& helper_column = result.columns.back();
    finish(helper_column, *tree, true);
    if (helper_column.problem.empty() || helper_column.problem == "did not remove the tree") {
      const auto output = sorvik_lib::sys::read_file(helper_launch.output_path.c_str());
      const std::string checked =
          output ? check_helper_result(*output, *tree, counted ? counted->bytes : 0)
                 : std::string("its output could not be read");
      if (!checked.empty()) {
        helper_column.problem += (helper_column.problem.empty() ? "" : "; ") + checked;
      }
    }
  }

  // The fixed cost of a run, to set against the per-entry figures.
  const auto empty_request = sorvik_lib::types::encode_request(
      sorvik_lib::types::SidecarRequest(sorvik_lib::types::ElevatedCleanRequest{}));
  helper_launch.arguments = {tools.helper};
  if (empty_request && write_file(helper_launch.input_path, *empty_request)) {
    result.columns.push_back(trace_syscalls(tools, "helper start-up", helper_launch, summary_path));
  }
  return result;
}

std::string render_syscalls(const SyscallResult& result) {
  std::string out =
      "System calls per entry, small tree (strace -c -f; entries = files + directories + links):\n";
  if (!result.failure.empty()) return out + "  stopped: " + result.failure + "\n";
  const double entries = static_cast<double>(result.count.entries());
  out += fmt::format("  {} entries; the start-up column is per run, not per entry\n",
                     result.count.entries());
  std::vector<std::string> headers = {"system call"};
  for (const auto& column : result.columns) headers.push_back(column.label);
  TextTable table(headers, 1);
  const auto per_entry = [&](const SyscallColumn& column, std::uint64_t calls) {
    if (column.label == "helper start-up") return fmt::format("{}", calls);
    return fmt::format("{:.2f}", static_cast<double>(calls) / entries);
  };
  std::vector<std::string> total_row = {"all calls"};
  for (const auto& column : result.columns) {
    total_row.push_back(per_entry(column, column.total) + (column.problem.empty() ? "" : " !"));
  }
  table.add_row(total_row);
  std::set<std::string> names;
  for (const auto& column : result.columns) {
    if (column.label == "helper start-up") continue;
    for (const auto& [name, calls] : column.calls) {
      if (static_cast<double>(calls) / entries >= kRowThreshold) names.insert(name);
    }
  }
  for (const auto& name : names) {
    std::vector<std::string> row = {name};
    for (const auto& column : result.columns) {
      const auto found = column.calls.find(name);
      row.push_back(per_entry(column, found == column.calls.end() ? 0 : found->second));
    }
    table.add_row(row);
  }
  out += table.render();
  for (const auto& column : result.columns) {
    if (!column.problem.empty()) out += fmt::format("  ! {}: {}\n", column.label, column.problem);
  }
  return out;
}

}  // namespace sorvik_bench
