// The main table: every tree on every location, the contenders interleaved run by run
// (A B C D A B C D ...) so that drift of the machine hits them all alike.
#pragma once

#include <string>
#include <vector>

#include "contenders.hpp"
#include "scratch_dir.hpp"
#include "tree_build.hpp"

namespace sorvik_bench {

// Where trees are built (the machine's disk or a tmpfs), which trees, and how many runs each.
struct Location {
  std::string name;
  const ScratchDir* scratch = nullptr;
  std::string outside;       // the witness folder beside the trees
  bool sync_before = false;  // flush the disk before each timed run
  std::vector<TreeKind> trees;
  int runs = 5;
  // Once a tree's runs here have taken this long, no further run is started (0: no limit). The
  // first run always completes, so every contender has at least one figure.
  double budget_seconds = 0;
};

struct ContenderSamples {
  Contender contender;
  std::vector<double> seconds;
  std::vector<std::string> problems;  // one per run, empty for a valid run
};

// The median of `contender`'s valid runs among `contenders`; 0 without any.
[[nodiscard]] double valid_median(const std::vector<ContenderSamples>& contenders,
                                  Contender contender);

struct TreeResult {
  TreeKind kind;
  std::string location;
  TreeCount count;
  std::vector<ContenderSamples> contenders;
  std::string failure;    // the harness itself could not go on with this tree
  std::string cut_short;  // why fewer runs were made than planned
};

struct TreeBenchPlan {
  std::vector<Location> locations;
  std::string work;  // folder for the helper's request and output
};

[[nodiscard]] std::vector<TreeResult> run_tree_bench(const Tools& tools, const TreeBenchPlan& plan);

// The table of medians, spreads and ratios to `du -sb && rm -rf`, with a note for every row that
// had invalid runs.
[[nodiscard]] std::string render_tree_table(const std::vector<TreeResult>& results);

}  // namespace sorvik_bench
