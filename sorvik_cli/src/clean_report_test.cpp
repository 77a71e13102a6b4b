// What `sorvik clean` reports for people and as JSON: a clean, a dry run, an interrupt.
#include "clean_report.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace sorvik_cli {
namespace {

using sorvik_lib::cleaner::CleanOutcome;
using sorvik_lib::types::CleanResult;

CleanOutcome outcome_of(CleanResult result, std::uint64_t allocated = 0, bool cancelled = false) {
  return {std::move(result), allocated, cancelled};
}

TEST(CleanReport, SummaryWording) {
  EXPECT_EQ(count_of(0, "path", "paths"), "0 paths");
  EXPECT_EQ(count_of(1, "path", "paths"), "1 path");
  EXPECT_EQ(count_of(2, "error", "errors"), "2 errors");
  const CleanResult three{
      {"/a", "/b", "/c"}, {{"/d", "Permission denied (os error 13)"}}, 1'230'000'000};
  EXPECT_EQ(summary_line(outcome_of(three, 1'300'000'000), CleanMode::Delete),
            "Freed 1.23GB (1.3GB on disk) from 3 paths, 1 error");
  EXPECT_EQ(summary_line(CleanOutcome{}, CleanMode::Delete), "Freed 0B (0B on disk) from 0 paths");
  EXPECT_EQ(
      summary_line(outcome_of({{"/a"}, {{"x", "m"}, {"y", "m"}}, 5000}, 8192), CleanMode::DryRun),
      "Would free 5kB (8.192kB on disk) from 1 path, 2 errors");
}

TEST(CleanReport, AnInterruptedCleanSaysSoFirst) {
  const CleanResult so_far{{"/a"}, {{"/b", "Cancelled"}, {"/c", "Cancelled"}}, 2'000'000};
  EXPECT_EQ(summary_line(outcome_of(so_far, 2'100'000, true), CleanMode::Delete),
            "Interrupted: freed 2MB (2.1MB on disk) from 1 path, 2 errors");
  EXPECT_EQ(summary_line(outcome_of(so_far, 2'100'000, true), CleanMode::DryRun),
            "Interrupted: would free 2MB (2.1MB on disk) from 1 path, 2 errors");
  EXPECT_EQ(format_clean_report(outcome_of(so_far, 2'100'000, true), CleanMode::Delete, {}),
            "Interrupted: freed 2MB (2.1MB on disk) from 1 path, 2 errors\n"
            "error: /b: Cancelled\n"
            "error: /c: Cancelled\n");
}

TEST(CleanReport, AfterARealCleanTheSummaryAndEachError) {
  const CleanResult result{{"/t/a"},
                           {{"/t/locked\x1b[31m", "Permission denied (os error 13)"},
                            {"rel", "Path is not absolute: rel"}},
                           3'146'000};
  EXPECT_EQ(format_clean_report(outcome_of(result, 3'149'824), CleanMode::Delete, {}),
            "Freed 3.146MB (3.15MB on disk) from 1 path, 2 errors\n"
            "error: /t/locked\\u{1b}[31m: Permission denied (os error 13)\n"
            "error: rel: Path is not absolute: rel\n");
}

TEST(CleanReport, ADryRunListsWhatWouldGoWithSizesAligned) {
  const CleanResult result{{"/t/cache", "/t/empty", "/t/two\nlines"}, {}, 1'501'000};
  const std::vector<ListedPath> listed = {
      {"/t/cache", 1'500'000}, {"/t/empty", 0}, {"/t/two\nlines", 1000}};
  EXPECT_EQ(format_clean_report(outcome_of(result, 1'511'424), CleanMode::DryRun, listed),
            "Would remove:\n"
            "  1.5MB  /t/cache\n"
            "     0B  /t/empty\n"
            "    1kB  /t/two\\nlines\n"
            "Would free 1.501MB (1.511MB on disk) from 3 paths\n"
            "Dry run: nothing was deleted.\n");
  EXPECT_EQ(format_clean_report(CleanOutcome{}, CleanMode::DryRun, {}),
            "Would free 0B (0B on disk) from 0 paths\nDry run: nothing was deleted.\n");
}

TEST(CleanReport, JsonAlwaysHoldsTheRunsKindAndDiskSpace) {
  const CleanResult result{{"/t/a"}, {{"/t/b", "Cancelled"}}, 1500};
  EXPECT_EQ(clean_to_json(outcome_of(result, 4096, true), CleanMode::Delete),
            nlohmann::json::parse(R"({"removed": ["/t/a"],
                "errors": [{"path": "/t/b", "message": "Cancelled"}], "bytesFreed": 1500,
                "bytesAllocated": 4096, "dryRun": false, "interrupted": true})"));
  EXPECT_EQ(clean_to_json(CleanOutcome{}, CleanMode::DryRun),
            nlohmann::json::parse(R"({"removed": [], "errors": [], "bytesFreed": 0,
                "bytesAllocated": 0, "dryRun": true, "interrupted": false})"));
}

}  // namespace
}  // namespace sorvik_cli
