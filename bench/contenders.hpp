// The contenders that delete a tree, each run once on a fresh tree and checked afterwards: the
// tree must be gone, and the helper's result must list it with bytesFreed equal to the
// independent count.
#pragma once

#include <sys/resource.h>

#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sorvik_bench {

enum class Contender {
  DuThenRm,        // GNU du -sb T, then rm -rf T: the same work as the helper, measure then delete
  Rm,              // GNU rm -rf T: delete only
  FindDelete,      // find T -delete
  Helper,          // sorvik_helper fed an elevated request for T on standard input
  PortableHelper,  // the same, built with every Linux fast path off (readdir, no pipe2)
};

[[nodiscard]] std::string_view contender_label(Contender contender);

// Absolute paths of every program the harness starts.
struct Tools {
  std::string du, rm, find, cat, xargs, helper, floor;
  std::optional<std::string> portable_helper;
  std::optional<std::string> strace;
};

// The contenders `tools` can run: the portable helper only when there is one.
[[nodiscard]] std::vector<Contender> contenders_of(const Tools& tools);

// The path of the helper `contender` runs (either build of it).
[[nodiscard]] const std::string& helper_of(const Tools& tools, Contender contender);

// Finds the standard tools on PATH; the helpers and the floor program are given, the portable
// helper only when `portable_helper` is not empty.
[[nodiscard]] std::expected<Tools, std::string> find_tools(const std::string& helper,
                                                           const std::string& floor,
                                                           const std::string& portable_helper);

struct RunSetup {
  std::string tree;  // the tree to delete
  std::string work;  // a folder for the request and the helper's output
  std::optional<rlim_t> open_files_limit;
  std::uint64_t counted_bytes = 0;  // the independent count of the tree
};

struct RunOutcome {
  double seconds = 0;
  std::string problem;  // empty when the run did all it should
};

// Runs `contender` once on `setup.tree` and checks the outcome. Only the children are timed.
[[nodiscard]] RunOutcome run_contender(Contender contender, const Tools& tools,
                                       const RunSetup& setup);

// The helper's request to clean exactly `tree`, as the application would encode it.
[[nodiscard]] std::string request_for(const std::string& tree);

// What is wrong with the helper's output, or empty when it is exactly one result that cleaned
// `tree` whole with `counted_bytes` freed.
[[nodiscard]] std::string check_helper_result(std::string_view output, const std::string& tree,
                                              std::uint64_t counted_bytes);

}  // namespace sorvik_bench
