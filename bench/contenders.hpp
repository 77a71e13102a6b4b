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

namespace sorvik_bench {

enum class Contender {
  DuThenRm,    // GNU du -sb T, then rm -rf T: the same work as the helper, measure then delete
  Rm,          // GNU rm -rf T: delete only
  FindDelete,  // find T -delete
  Helper,      // sorvik_helper fed an elevated request for T on standard input
};

inline constexpr std::array kAllContenders = {Contender::DuThenRm, Contender::Rm,
                                              Contender::FindDelete, Contender::Helper};

[[nodiscard]] std::string_view contender_label(Contender contender);

// Absolute paths of every program the harness starts.
struct Tools {
  std::string du, rm, find, cat, helper, floor;
  std::optional<std::string> strace;
};

// Finds the standard tools on PATH; the helper and the floor program are given.
[[nodiscard]] std::expected<Tools, std::string> find_tools(const std::string& helper,
                                                           const std::string& floor);

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
