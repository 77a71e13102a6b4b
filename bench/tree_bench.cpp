// Building, timing and checking every run of the tree table, then laying the table out.
#include "tree_bench.hpp"

#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>

#include "child_run.hpp"
#include "summary.hpp"

namespace sorvik_bench {
namespace {

// Below this many descriptors a walk must close directories to go deeper; the deep tree is made
// to test exactly that, for every contender alike.
constexpr rlim_t kDeepOpenFilesLimit = 64;

bool exists(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0;
}

std::string describe_count(const TreeCount& count) {
  return fmt::format("{} entries ({} files, {} directories, {} links), {} in regular files",
                     count.entries(), count.files, count.directories, count.links,
                     format_bytes(count.bytes));
}

// One timed run of one contender on a fresh tree. A problem of the harness itself (the tree
// could not be built or counted) is returned as an error and ends the tree's series.
[[nodiscard]] std::expected<RunOutcome, std::string> run_once(
    const Tools& tools, const TreeBenchPlan& plan, const Location& location, TreeKind kind,
    const std::string& tree, Contender contender, TreeCount& count) {
  const auto planned = build_tree(kind, tree, location.outside);
  if (!planned) return std::unexpected("building the tree failed: " + planned.error().message());
  const auto counted = count_tree(tree);
  if (!counted) return std::unexpected("counting the tree failed: " + counted.error().message());
  if (*counted != *planned) {
    return std::unexpected(fmt::format("the count ({}) disagrees with the builder ({})",
                                       describe_count(*counted), describe_count(*planned)));
  }
  count = *counted;
  // Timed runs must not pay for writing back what the builder left in the page cache.
  if (location.sync_before) ::sync();
  RunSetup setup;
  setup.tree = tree;
  setup.work = plan.work;
  setup.counted_bytes = counted->bytes;
  if (kind == TreeKind::Deep) setup.open_files_limit = kDeepOpenFilesLimit;
  RunOutcome outcome = run_contender(contender, tools, setup);
  if (auto witness = check_outside_witness(location.outside); !witness.empty()) {
    outcome.problem += (outcome.problem.empty() ? "" : "; ") + witness;
    (void)location.scratch->remove_inside(location.outside);
    (void)make_outside_witness(location.outside);
  }
  return outcome;
}

}  // namespace

std::vector<TreeResult> run_tree_bench(const Tools& tools, const TreeBenchPlan& plan) {
  std::vector<TreeResult> results;
  for (const TreeKind kind : {TreeKind::Wide, TreeKind::Small, TreeKind::Deep, TreeKind::Mixed}) {
    for (const Location& location : plan.locations) {
      if (std::ranges::find(location.trees, kind) == location.trees.end()) continue;
      TreeResult result{kind, location.name, {}, {}, {}, {}};
      const double started = now_seconds();
      for (const Contender contender : contenders_of(tools))
        result.contenders.push_back({contender, {}, {}});
      for (int run = 0; run < location.runs && result.failure.empty(); ++run) {
        fmt::print(stderr, "[trees] {} on {}: run {} of {}\n", tree_name(kind), location.name,
                   run + 1, location.runs);
        for (auto& samples : result.contenders) {
          const std::string tree =
              *location.scratch /
              fmt::format("{}-{}-{}", tree_name(kind), run, static_cast<int>(samples.contender));
          auto outcome =
              run_once(tools, plan, location, kind, tree, samples.contender, result.count);
          if (exists(tree)) {
            if (auto removed = location.scratch->remove_inside(tree); !removed) {
              result.failure = removed.error();
            }
          }
          if (!outcome) {
            result.failure = outcome.error();
            break;
          }
          samples.seconds.push_back(outcome->seconds);
          samples.problems.push_back(std::move(outcome->problem));
        }
        const double spent = now_seconds() - started;
        if (location.budget_seconds > 0 && spent > location.budget_seconds &&
            run + 1 < location.runs) {
          result.cut_short = fmt::format("{} of {} runs: the time budget of {:.0f} s was spent",
                                         run + 1, location.runs, location.budget_seconds);
          break;
        }
      }
      results.push_back(std::move(result));
    }
  }
  return results;
}

std::string render_tree_table(const std::vector<TreeResult>& results) {
  TextTable table(
      {"tree", "location", "contender", "median ms", "min ms", "max ms", "ratio", "valid runs"}, 3);
  std::string notes;
  std::string shapes;
  std::string portable;
  std::map<TreeKind, bool> described;
  for (const auto& result : results) {
    if (!described[result.kind] && result.count.entries() > 0) {
      described[result.kind] = true;
      shapes += fmt::format(
          "  {:<6} {}{}\n", tree_name(result.kind), describe_count(result.count),
          result.kind == TreeKind::Deep ? "; every contender runs with at most 64 open files" : "");
    }
    if (!result.cut_short.empty()) {
      notes += fmt::format("  {} on {}: {}\n", tree_name(result.kind), result.location,
                           result.cut_short);
    }
    if (!result.failure.empty()) {
      notes += fmt::format("  {} on {}: stopped: {}\n", tree_name(result.kind), result.location,
                           result.failure);
    }
    // The baseline's median over its valid runs; ratios of every row are taken against it.
    const double baseline = valid_median(result.contenders, Contender::DuThenRm);
    const double helper = valid_median(result.contenders, Contender::Helper);
    const double portable_helper = valid_median(result.contenders, Contender::PortableHelper);
    if (portable_helper > 0 && helper > 0) {
      portable += fmt::format("  {:<6} {:<6} {}\n", tree_name(result.kind), result.location,
                              format_ratio(portable_helper, helper));
    }
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
      // With no valid run the times are still shown, marked, so that the table stays whole.
      const bool all_invalid = valid.empty() && !samples.seconds.empty();
      const Spread spread = spread_of(all_invalid ? samples.seconds : valid);
      const std::string mark = problems.empty() ? "" : " !";
      table.add_row({std::string(tree_name(result.kind)), result.location,
                     std::string(contender_label(samples.contender)),
                     spread.count ? format_ms(spread.median) : "-",
                     spread.count ? format_ms(spread.min) : "-",
                     spread.count ? format_ms(spread.max) : "-",
                     all_invalid ? fmt::format("({})", format_ratio(spread.median, baseline))
                                 : format_ratio(spread.median, baseline),
                     fmt::format("{}/{}{}", valid.size(), samples.seconds.size(), mark)});
      for (const auto& [problem, times] : problems) {
        notes +=
            fmt::format("  ! {} on {}, {}: {} of {} runs invalid: {}\n", tree_name(result.kind),
                        result.location, contender_label(samples.contender), times,
                        samples.seconds.size(), problem);
      }
    }
  }
  std::string out =
      "Trees (each run on a fresh tree; creation not timed):\n" + shapes + "\n" + table.render();
  out +=
      "\nratio = median / median of `du -sb && rm -rf` on the same tree and location, same run.\n"
      "Rows marked ! had invalid runs; with no valid run the times (and the ratio, in\n"
      "parentheses) are those of the invalid runs and mean nothing.\n";
  if (!portable.empty()) {
    out += "\nThe portable helper (readdir, no Linux fast path) against sorvik_helper, medians:\n" +
           portable;
  }
  if (!notes.empty()) out += "\n" + notes;
  return out;
}

double valid_median(const std::vector<ContenderSamples>& contenders, Contender contender) {
  for (const auto& samples : contenders) {
    if (samples.contender != contender) continue;
    std::vector<double> valid;
    for (std::size_t i = 0; i < samples.seconds.size(); ++i) {
      if (samples.problems[i].empty()) valid.push_back(samples.seconds[i]);
    }
    return spread_of(valid).median;
  }
  return 0;
}

}  // namespace sorvik_bench
