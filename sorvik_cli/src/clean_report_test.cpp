#include "clean_report.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace sorvik_cli {
namespace {

using sorvik_lib::types::CleanResult;

TEST(CleanReport, SummaryWording) {
  EXPECT_EQ(count_of(0, "path", "paths"), "0 paths");
  EXPECT_EQ(count_of(1, "path", "paths"), "1 path");
  EXPECT_EQ(count_of(2, "error", "errors"), "2 errors");
  const CleanResult three{
      {"/a", "/b", "/c"}, {{"/d", "Permission denied (os error 13)"}}, 1'230'000'000};
  EXPECT_EQ(summary_line(three, CleanMode::Delete), "Freed 1.23GB from 3 paths, 1 error");
  EXPECT_EQ(summary_line(CleanResult{}, CleanMode::Delete), "Freed 0B from 0 paths");
  EXPECT_EQ(summary_line(CleanResult{{"/a"}, {{"x", "m"}, {"y", "m"}}, 5000}, CleanMode::DryRun),
            "Would free 5kB from 1 path, 2 errors");
}

TEST(CleanReport, AfterARealCleanTheSummaryAndEachError) {
  const CleanResult result{{"/t/a"},
                           {{"/t/locked\x1b[31m", "Permission denied (os error 13)"},
                            {"rel", "Path is not absolute: rel"}},
                           3'146'000};
  EXPECT_EQ(format_clean_report(result, CleanMode::Delete, {}),
            "Freed 3.146MB from 1 path, 2 errors\n"
            "error: /t/locked\\u{1b}[31m: Permission denied (os error 13)\n"
            "error: rel: Path is not absolute: rel\n");
}

TEST(CleanReport, ADryRunListsWhatWouldGoWithSizesAligned) {
  const CleanResult result{{"/t/cache", "/t/empty", "/t/two\nlines"}, {}, 1'501'000};
  const std::vector<ListedPath> listed = {
      {"/t/cache", 1'500'000}, {"/t/empty", 0}, {"/t/two\nlines", 1000}};
  EXPECT_EQ(format_clean_report(result, CleanMode::DryRun, listed),
            "Would remove:\n"
            "  1.5MB  /t/cache\n"
            "     0B  /t/empty\n"
            "    1kB  /t/two\\nlines\n"
            "Would free 1.501MB from 3 paths\n"
            "Dry run: nothing was deleted.\n");
  EXPECT_EQ(format_clean_report(CleanResult{}, CleanMode::DryRun, {}),
            "Would free 0B from 0 paths\nDry run: nothing was deleted.\n");
}

}  // namespace
}  // namespace sorvik_cli
