// The cleaner under a caller's controls: directories no walk may enter, the cancel flag, progress
// inside a tree, the dry run as a preview of the real run, and the disk space behind the bytes.
#include <fcntl.h>

#include <atomic>

#include "cleaner_test_support.hpp"
#include "sorvik_lib/cleaner/cleaner.hpp"

namespace sorvik_lib::cleaner {
namespace {

using testing::describe;
using testing::exists_no_follow;
using testing::make_dir;
using testing::make_file;
using testing::make_link;
using testing::TempDir;
using types::CleanResult;
using types::ErrorEntry;
using types::Path;
using Events = std::vector<std::string>;

struct ControlledRun {
  CleanOutcome outcome;
  Events events;
};

ControlledRun run(const std::vector<Path>& paths, const TreeOptions& options,
                  const PathSet& keep = {}, bool dry_run = false) {
  ControlledRun ran;
  const ProgressCallback on_progress = [&](CleanProgress event) {
    ran.events.push_back(describe(event));
  };
  ran.outcome = Cleaner::run(paths, record_paths(paths, keep), dry_run ? DryRun::Yes : DryRun::No,
                             on_progress, options);
  return ran;
}

FileIdentity identity_of_path(const std::string& path) {
  struct stat status {};
  EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
  return {status.st_dev, status.st_ino};
}

std::uint64_t files_left(const std::string& directory) {
  std::uint64_t left = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(directory)) {
    left += entry.is_regular_file() ? 1 : 0;
  }
  return left;
}

void make_files(const std::string& directory, int count, std::uint64_t bytes) {
  make_dir(directory);
  for (int i = 0; i < count; ++i) make_file(directory + "/f" + std::to_string(i), bytes);
}

TEST(CleanerForbidden, APathHoldingOneAnywhereIsRefusedWholeBeforeAnythingGoes) {
  TempDir dir;
  make_dir(dir / "tree/b/c/system");
  make_file(dir / "tree/a-file", 10);
  make_file(dir / "tree/b/c/system/marker", 5);
  make_file(dir / "tree/z-file", 10);
  make_file(dir / "plain", 3);
  const IdentitySet forbidden = {identity_of_path(dir / "tree/b/c/system")};
  TreeOptions controls;
  controls.forbidden = &forbidden;
  const std::string refusal = "Path is forbidden: " + dir / "tree";
  for (const bool dry_run : {false, true}) {
    for (const PathSet& keep : {PathSet{}, PathSet{dir / "tree"}}) {
      const auto ran = run({dir / "tree", dir / "tree/b/c/system"}, controls, keep, dry_run);
      EXPECT_EQ(
          ran.outcome.result,
          (CleanResult{{},
                       {{dir / "tree", refusal},
                        {dir / "tree/b/c/system", "Path is forbidden: " + dir / "tree/b/c/system"}},
                       0}));
      EXPECT_EQ(ran.events[2], "PathFailed " + dir / "tree" + " " + refusal);
      for (const char* name : {"tree/a-file", "tree/b/c/system/marker", "tree/z-file"}) {
        EXPECT_TRUE(exists_no_follow(dir / name)) << name;
      }
    }
  }
  EXPECT_EQ(run({dir / "plain"}, controls).outcome.result, (CleanResult{{dir / "plain"}, {}, 3}));
}

// Moving a forbidden directory into the tree once the measure is done is the race the removal's
// own check is for.
TEST(CleanerForbidden, OneMovedInAfterTheMeasureStopsTheRemovalAtIt) {
  TempDir dir;
  make_files(dir / "tree", 300, 10);
  make_dir(dir / "system");
  make_file(dir / "system/marker", 5);
  const IdentitySet forbidden = {identity_of_path(dir / "system")};
  TreeOptions controls;
  controls.forbidden = &forbidden;
  controls.progress_interval = std::chrono::milliseconds(0);
  bool moved = false;
  controls.on_progress = [&](const TreeProgress& progress) {
    if (progress.stage == TreeStage::Removing && !std::exchange(moved, true)) {
      std::filesystem::rename(dir / "system", dir / "tree/moved-in");
    }
  };
  const auto ran = run({dir / "tree"}, controls);
  ASSERT_TRUE(moved);
  const std::uint64_t gone = 300 - (files_left(dir / "tree") - 1);
  EXPECT_EQ(ran.outcome.result,
            (CleanResult{{}, {{dir / "tree", "Path is forbidden: " + dir / "tree"}}, gone * 10}));
  EXPECT_TRUE(exists_no_follow(dir / "tree/moved-in/marker"));
}

TEST(CleanerCancel, AFlagSetBeforehandCancelsEveryPathUntouched) {
  TempDir dir;
  make_file(dir / "a", 1);
  make_file(dir / "b", 2);
  const std::atomic<bool> cancel{true};
  TreeOptions controls;
  controls.cancel = &cancel;
  const auto ran = run({dir / "a", dir / "missing", dir / "b"}, controls);
  EXPECT_TRUE(ran.outcome.cancelled);
  EXPECT_EQ(
      ran.outcome.result,
      (CleanResult{
          {},
          {{dir / "a", "Cancelled"}, {dir / "missing", "Cancelled"}, {dir / "b", "Cancelled"}},
          0}));
  EXPECT_EQ(ran.events, (Events{"Started 3", "Finished 0"}));
  EXPECT_TRUE(exists_no_follow(dir / "a") && exists_no_follow(dir / "b"));
}

// The flag is set from the tree progress of the removal, part-way through a tree: the entry at
// hand is finished, and exactly the bytes that went are credited.
TEST(CleanerCancel, StopsPartWayAndCreditsOnlyWhatWent) {
  for (const bool kept : {false, true}) {
    TempDir dir;
    make_files(dir / "big", 3000, 7);
    make_file(dir / "after", 1);
    std::atomic<bool> cancel{false};
    TreeOptions controls;
    controls.cancel = &cancel;
    controls.progress_interval = std::chrono::milliseconds(0);
    controls.on_progress = [&](const TreeProgress& progress) {
      if (progress.stage == TreeStage::Removing && progress.entries >= 512) cancel = true;
    };
    const PathSet keep = kept ? PathSet{dir / "big"} : PathSet{};
    const auto ran = run({dir / "big", dir / "after"}, controls, keep);
    const std::uint64_t gone = 3000 - files_left(dir / "big");
    EXPECT_GE(gone, 512u);
    EXPECT_LT(gone, 3000u);
    EXPECT_TRUE(ran.outcome.cancelled);
    EXPECT_EQ(
        ran.outcome.result,
        (CleanResult{{}, {{dir / "big", "Cancelled"}, {dir / "after", "Cancelled"}}, gone * 7}))
        << "kept " << kept;
    EXPECT_TRUE(exists_no_follow(dir / "after"));
  }
}

TEST(CleanerTreeProgress, TellsTheMeasureAndThenTheRemovalOfThePathAtHand) {
  TempDir dir;
  for (const char* sub : {"tree/a", "tree/b", "tree/c", "tree/d"}) make_files(dir / sub, 250, 5);
  std::vector<TreeProgress> told;
  TreeOptions controls;
  controls.progress_interval = std::chrono::milliseconds(0);
  controls.on_progress = [&](const TreeProgress& progress) { told.push_back(progress); };
  const auto ran = run({dir / "tree"}, controls);
  EXPECT_EQ(ran.outcome.result.bytesFreed, 5000u);
  ASSERT_FALSE(told.empty());
  EXPECT_EQ(told.front().stage, TreeStage::Measuring);
  EXPECT_EQ(told.back().stage, TreeStage::Removing);
  const TreeProgress* previous = nullptr;
  for (const TreeProgress& progress : told) {
    EXPECT_EQ(progress.path, dir / "tree");
    if (progress.stage == TreeStage::Measuring) {
      EXPECT_EQ(progress.entries_total, 0u);
      EXPECT_LE(progress.bytes, 5000u);
    } else {
      // The measure's own figures, to set the removal's count against.
      EXPECT_EQ(progress.entries_total, 1004u);
      EXPECT_EQ(progress.bytes, 5000u);
    }
    if (previous != nullptr && previous->stage == progress.stage) {
      EXPECT_GT(progress.entries, previous->entries);
    }
    previous = &progress;
  }
}

// Builds the same tree under `base` for each run of one comparison.
void build_preview_tree(const TempDir& base) {
  make_files(base / "T/sub", 3, 100);
  make_file(base / "T/f", 10);
  make_file(base / "T/g", 20);
  make_files(base / "K/inner", 2, 1000);
  make_file(base / "K/x", 30);
  make_files(base / "D", 2, 7);
  make_link(base / "D", base / "K2");
  make_link(base / "T", base / "L");
}

// The result with `base` taken off each path, so runs on two copies compare.
CleanResult relative(CleanResult result, const std::string& base) {
  for (auto& path : result.removed) path.erase(0, base.size());
  for (auto& entry : result.errors) entry.path.erase(0, base.size());
  return result;
}

TEST(CleanerPreview, ADryRunCreditsWhatTheRealRunFreesPathForPath) {
  const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> cases = {
      {{"/T", "/T", "/T/f"}, {}},
      {{"/T/f", "/T"}, {}},
      {{"/T/sub", "/T/sub/f0", "/T//sub/", "/T"}, {}},
      {{"/K", "/K/x", "/K/inner", "/K"}, {"/K"}},
      {{"/K2", "/D/f0", "/D"}, {"/K2"}},
      {{"/L", "/T/g", "/L/f"}, {}},
      {{"/K/inner", "/K", "/T/sub/f1", "/T/./sub"}, {"/K"}},
  };
  for (const auto& [names, kept] : cases) {
    CleanOutcome outcomes[2];
    for (const bool dry_run : {true, false}) {
      TempDir base;
      build_preview_tree(base);
      std::vector<Path> paths;
      for (const auto& name : names) paths.push_back(base.path().string() + name);
      PathSet keep;
      for (const auto& name : kept) keep.insert(base.path().string() + name);
      outcomes[dry_run ? 0 : 1] = run(paths, {}, keep, dry_run).outcome;
      outcomes[dry_run ? 0 : 1].result = relative(outcomes[dry_run ? 0 : 1].result, base.path());
    }
    EXPECT_EQ(outcomes[0].result, outcomes[1].result) << ::testing::PrintToString(names);
    EXPECT_EQ(outcomes[0].bytes_allocated, outcomes[1].bytes_allocated)
        << ::testing::PrintToString(names);
  }
}

std::uint64_t allocated_of(const std::string& path) {
  struct stat status {};
  EXPECT_EQ(::lstat(path.c_str(), &status), 0);
  return static_cast<std::uint64_t>(status.st_blocks) * 512;
}

TEST(CleanerDiskSpace, CountsAllocatedBlocksAndAFileOfSeveralLinksOnce) {
  TempDir dir;
  make_file(dir / "sparse", 10'000'000, true);
  make_file(dir / "full", 65536);
  make_dir(dir / "t");
  std::filesystem::create_hard_link(dir / "full", dir / "t/full-again");
  const std::uint64_t expected = allocated_of(dir / "sparse") + allocated_of(dir / "full");
  for (const bool dry_run : {true, false}) {
    const auto ran = run({dir / "sparse", dir / "full", dir / "t"}, {}, {}, dry_run);
    EXPECT_EQ(ran.outcome.result.bytesFreed, 10'000'000u + 2 * 65536u);
    EXPECT_EQ(ran.outcome.bytes_allocated, expected);
  }
  EXPECT_LT(expected, 1'000'000u);
}

TEST(CleanerFifo, AFifoIsRemovedOrRefusedAsAKeptRootWithoutWaitingForAWriter) {
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo((dir / "kept-pipe").c_str(), 0600), 0);
  const auto ran = run({dir / "kept-pipe", dir / "pipe"}, {}, {dir / "kept-pipe"});
  EXPECT_EQ(
      ran.outcome.result,
      (CleanResult{{dir / "pipe"}, {{dir / "kept-pipe", "Not a directory (os error 20)"}}, 0}));
}

}  // namespace
}  // namespace sorvik_lib::cleaner
