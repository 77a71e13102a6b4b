// The cleaner on real trees: what it removes and empties, what it credits, its events and guard.
#include "sorvik_lib/cleaner/cleaner.hpp"

#include <tuple>

#include "cleaner_test_support.hpp"

namespace sorvik_lib::cleaner {
namespace {

using namespace std::string_literals;
using testing::exists_no_follow;
using testing::make_dir;
using testing::make_file;
using testing::make_link;
using testing::Recorded;
using testing::TempDir;
using types::CleanResult;
using types::ErrorEntry;
using types::Path;
using Events = std::vector<std::string>;

Recorded clean(std::vector<Path> paths, PathSet keep = {}, bool dry_run = false) {
  return testing::record([&](const ProgressCallback& on_progress) {
    return Cleaner::clean(paths, dry_run ? DryRun::Yes : DryRun::No, keep, on_progress);
  });
}

Recorded clean_as_nobody(std::vector<Path> paths, PathSet keep = {}) {
  return testing::record_as_nobody([&](const ProgressCallback& on_progress) {
    return Cleaner::clean(paths, DryRun::No, keep, on_progress);
  });
}

TEST(Cleaner, AnEmptyListStartsAndFinishes) {
  const auto run = clean({});
  EXPECT_EQ(run.result, CleanResult{});
  EXPECT_EQ(run.events, (Events{"Started 0", "Finished 0"}));
}

TEST(Cleaner, RemovesFilesAndTreesAndCreditsTheirLengths) {
  TempDir dir;
  make_file(dir / "file", 5);
  make_dir(dir / "tree/a/b");
  make_file(dir / "tree/x", 100);
  make_file(dir / "tree/a/b/y", 20);
  make_file(dir / "tree/a/sparse", 1'000'000, true);
  make_dir(dir / "empty");
  const auto run = clean({dir / "file", dir / "tree", dir / "empty"});
  EXPECT_EQ(run.result, (CleanResult{{dir / "file", dir / "tree", dir / "empty"}, {}, 1'000'125}));
  EXPECT_EQ(
      run.events,
      (Events{"Started 3", "PathStarted " + dir / "file" + " 0",
              "PathCleaned " + dir / "file" + " 5", "PathStarted " + dir / "tree" + " 1",
              "PathCleaned " + dir / "tree" + " 1000120", "PathStarted " + dir / "empty" + " 2",
              "PathCleaned " + dir / "empty" + " 0", "Finished 1000125"}));
  EXPECT_FALSE(exists_no_follow(dir / "file"));
  EXPECT_FALSE(exists_no_follow(dir / "tree"));
  EXPECT_FALSE(exists_no_follow(dir / "empty"));
}

TEST(Cleaner, MissingPathsAndDanglingLinksAreSkippedButCounted) {
  TempDir dir;
  make_link(dir / "nowhere", dir / "dangling");
  make_file(dir / "file", 9);
  const auto run = clean({dir / "missing", dir / "dangling", dir / "file"});
  EXPECT_EQ(run.result, (CleanResult{{dir / "file"}, {}, 9}));
  EXPECT_EQ(run.events, (Events{"Started 3", "PathStarted " + dir / "file" + " 2",
                                "PathCleaned " + dir / "file" + " 9", "Finished 9"}));
  // Skipped means untouched.
  EXPECT_TRUE(exists_no_follow(dir / "dangling"));
}

TEST(Cleaner, ARemovedLinkCreditsNothingAndLeavesItsTarget) {
  TempDir dir;
  make_dir(dir / "target");
  make_file(dir / "target/f", 1000);
  make_link(dir / "target", dir / "dir-link");
  make_link(dir / "target/f", dir / "file-link");
  for (const bool dry_run : {true, false}) {
    const auto run = clean({dir / "dir-link", dir / "file-link"}, {}, dry_run);
    EXPECT_EQ(run.result, (CleanResult{{dir / "dir-link", dir / "file-link"}, {}, 0}));
    EXPECT_EQ(run.events[2], "PathCleaned " + dir / "dir-link" + " 0");
  }
  EXPECT_FALSE(exists_no_follow(dir / "dir-link"));
  EXPECT_FALSE(exists_no_follow(dir / "file-link"));
  EXPECT_TRUE(exists_no_follow(dir / "target/f"));
}

TEST(Cleaner, ALinkWithATrailingSeparatorIsRemovedAsALink) {
  TempDir dir;
  make_dir(dir / "target/sub");
  make_file(dir / "target/sub/f", 30);
  make_link(dir / "target", dir / "link");
  make_link(dir / "target", dir / "kept-link");
  // Removed, it goes as the link it is; kept, it is emptied through, as any kept link is.
  EXPECT_EQ(clean({dir / "link/"}).result, (CleanResult{{dir / "link/"}, {}, 0}));
  EXPECT_FALSE(exists_no_follow(dir / "link"));
  EXPECT_TRUE(exists_no_follow(dir / "target/sub/f"));
  EXPECT_EQ(clean({dir / "kept-link/."}, {dir / "kept-link/."}).result,
            (CleanResult{{dir / "kept-link/."}, {}, 30}));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "kept-link"));
  EXPECT_TRUE(std::filesystem::is_empty(dir / "target"));
}

TEST(Cleaner, LinksInsideATreeCountNothingAndTheirTargetsStay) {
  TempDir dir;
  make_dir(dir / "outside");
  make_file(dir / "outside/big", 5000);
  make_dir(dir / "tree");
  make_file(dir / "tree/small", 3);
  make_link(dir / "outside", dir / "tree/to-dir");
  make_link(dir / "outside/big", dir / "tree/to-file");
  EXPECT_EQ(clean({dir / "tree"}).result, (CleanResult{{dir / "tree"}, {}, 3}));
  EXPECT_TRUE(exists_no_follow(dir / "outside/big"));
}

TEST(Cleaner, DuplicatesAndNestedPathsCountEveryFileOnce) {
  TempDir dir;
  make_dir(dir / "a/b");
  make_file(dir / "a/b/inner", 10);
  make_file(dir / "a/outer", 1);
  auto run = clean({dir / "a/b", dir / "a", dir / "a"});
  EXPECT_EQ(run.result, (CleanResult{{dir / "a/b", dir / "a"}, {}, 11}));
  EXPECT_EQ(run.events.back(), "Finished 11");

  make_dir(dir / "a/b");
  make_file(dir / "a/b/inner", 10);
  make_file(dir / "a/outer", 1);
  run = clean({dir / "a", dir / "a/b"});
  EXPECT_EQ(run.result, (CleanResult{{dir / "a"}, {}, 11}));
  EXPECT_EQ(run.events.size(), 4u);
}

TEST(Cleaner, AKeptRootIsEmptiedAndStays) {
  TempDir dir;
  make_dir(dir / "kept/sub/deeper");
  make_file(dir / "kept/a", 4);
  make_file(dir / "kept/sub/deeper/b", 6);
  make_link(dir / "kept/sub", dir / "kept/link");
  // Matched through a trailing separator in the set.
  const auto run = clean({dir / "kept"}, {dir / "kept/"});
  EXPECT_EQ(run.result, (CleanResult{{dir / "kept"}, {}, 10}));
  EXPECT_EQ(run.events, (Events{"Started 1", "PathStarted " + dir / "kept" + " 0",
                                "PathCleaned " + dir / "kept" + " 10", "Finished 10"}));
  EXPECT_TRUE(std::filesystem::is_directory(dir / "kept"));
  EXPECT_TRUE(std::filesystem::is_empty(dir / "kept"));
}

TEST(Cleaner, AKeptRootGivenTwiceOrEmptyIsListedWithoutAnEvent) {
  TempDir dir;
  make_dir(dir / "kept");
  make_file(dir / "kept/a", 4);
  const auto run = clean({dir / "kept", dir / "kept/."}, {dir / "kept"});
  EXPECT_EQ(run.result, (CleanResult{{dir / "kept", dir / "kept/."}, {}, 4}));
  EXPECT_EQ(run.events, (Events{"Started 2", "PathStarted " + dir / "kept" + " 0",
                                "PathCleaned " + dir / "kept" + " 4",
                                "PathStarted " + dir / "kept/." + " 1", "Finished 4"}));
}

TEST(Cleaner, AKeptRootThatIsAFileCannotBeListed) {
  TempDir dir;
  make_file(dir / "file", 4);
  const auto run = clean({dir / "file"}, {dir / "file"});
  EXPECT_EQ(run.result, (CleanResult{{}, {{dir / "file", "Not a directory (os error 20)"}}, 0}));
  EXPECT_EQ(run.events[2], "PathFailed " + dir / "file" + " Not a directory (os error 20)");
  EXPECT_TRUE(exists_no_follow(dir / "file"));
}

TEST(Cleaner, AKeptRootThatIsALinkIsEmptiedThroughIt) {
  TempDir dir;
  make_dir(dir / "target/sub");
  make_file(dir / "target/sub/f", 30);
  make_link(dir / "target", dir / "link");
  for (const bool dry_run : {true, false}) {
    EXPECT_EQ(clean({dir / "link"}, {dir / "link"}, dry_run).result,
              (CleanResult{{dir / "link"}, {}, 30}));
  }
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link"));
  EXPECT_TRUE(std::filesystem::is_empty(dir / "target"));
}

TEST(Cleaner, ADryRunDeletesNothingAndListsEveryExistingPath) {
  TempDir dir;
  make_dir(dir / "kept");
  make_file(dir / "kept/a", 4);
  make_dir(dir / "tree");
  make_file(dir / "tree/b", 8);
  const auto run = clean({dir / "kept", dir / "missing", dir / "tree"}, {dir / "kept"}, true);
  EXPECT_EQ(run.result, (CleanResult{{dir / "kept", dir / "tree"}, {}, 12}));
  EXPECT_EQ(run.events,
            (Events{"Started 3", "PathStarted " + dir / "kept" + " 0",
                    "PathCleaned " + dir / "kept" + " 4", "PathStarted " + dir / "tree" + " 2",
                    "PathCleaned " + dir / "tree" + " 8", "Finished 12"}));
  EXPECT_TRUE(exists_no_follow(dir / "kept/a"));
  EXPECT_TRUE(exists_no_follow(dir / "tree/b"));
}

TEST(Cleaner, APathWithANulByteIsSkippedAndItsPrefixStays) {
  TempDir dir;
  make_dir(dir / "tree");
  make_file(dir / "tree/f", 4);
  const auto run = clean({dir / "tree" + "\0"s, dir / "tree" + "\0/f"s}, {dir / "tree" + "\0"s});
  EXPECT_EQ(run.result, CleanResult{});
  EXPECT_EQ(run.events, (Events{"Started 2", "Finished 0"}));
  EXPECT_TRUE(exists_no_follow(dir / "tree/f"));
}

TEST(Cleaner, EventsShowPathsReadablyWhileTheResultKeepsTheBytes) {
  TempDir dir;
  const Path odd = dir / "caf\xE9";
  make_file(odd, 2);
  const auto run = clean({odd});
  EXPECT_EQ(run.result, (CleanResult{{odd}, {}, 2}));
  EXPECT_EQ(run.events[1], "PathStarted " + dir / "caf\xEF\xBF\xBD" + " 0");
}

TEST(Cleaner, APathThatVanishesOnceFoundIsNeitherFreedNorFailed) {
  TempDir dir;
  make_dir(dir / "tree/sub");
  make_file(dir / "tree/sub/f", 10);
  make_dir(dir / "kept");
  make_file(dir / "file", 5);
  const std::vector<Path> paths = {dir / "tree", dir / "kept", dir / "file"};
  const PathSet keep = {dir / "kept"};
  Events events;
  // Someone else removes each path as soon as the cleaner has found it.
  const ProgressCallback on_progress = [&](CleanProgress event) {
    if (const auto* started = std::get_if<progress::PathStarted>(&event)) {
      std::filesystem::remove_all(started->path);
    }
    events.push_back(testing::describe(event));
  };
  EXPECT_EQ(Cleaner::clean(paths, DryRun::No, keep, on_progress), CleanResult{});
  EXPECT_EQ(events, (Events{"Started 3", "PathStarted " + dir / "tree" + " 0",
                            "PathStarted " + dir / "kept" + " 1",
                            "PathStarted " + dir / "file" + " 2", "Finished 0"}));
}

// The records a clean acts on are taken before anything goes; whatever is swapped in since, under
// the same names, is not what gets removed or emptied.
TEST(CleanerRecords, APathIsCleanedOnlyWhileItNamesWhatItsRecordFound) {
  TempDir dir;
  make_dir(dir / "tree/sub");
  make_file(dir / "tree/sub/f", 10);
  make_dir(dir / "kept");
  make_file(dir / "kept/g", 20);
  make_dir(dir / "target");
  make_file(dir / "target/h", 40);
  make_dir(dir / "other");
  make_file(dir / "other/i", 80);
  make_link(dir / "target", dir / "kept-link");
  make_file(dir / "file", 5);
  make_file(dir / "same", 7);
  const std::vector<Path> paths = {dir / "tree", dir / "kept", dir / "kept-link", dir / "file",
                                   dir / "same"};
  const PathSet keep = {dir / "kept", dir / "kept-link"};
  const auto records = record_paths(paths, keep);
  // Each name but the last now leads to something else.
  std::filesystem::rename(dir / "tree", dir / "tree.old");
  make_dir(dir / "tree");
  make_file(dir / "tree/new", 1);
  std::filesystem::rename(dir / "kept", dir / "kept.old");
  make_dir(dir / "kept");
  make_file(dir / "kept/new", 2);
  std::filesystem::remove(dir / "kept-link");
  make_link(dir / "other", dir / "kept-link");
  std::filesystem::rename(dir / "file", dir / "file.old");
  make_file(dir / "file", 3);
  const auto run = testing::record([&](const ProgressCallback& on_progress) {
    return Cleaner::run(paths, records, DryRun::No, on_progress, {}).result;
  });
  const auto changed = [](const Path& path) {
    return ErrorEntry{path, "Path changed while it was being cleaned: " + path};
  };
  EXPECT_EQ(run.result, (CleanResult{{dir / "same"},
                                     {changed(dir / "tree"), changed(dir / "kept"),
                                      changed(dir / "kept-link"), changed(dir / "file")},
                                     7}));
  for (const char* left : {"tree/new", "kept/new", "other/i", "file", "target/h"}) {
    EXPECT_TRUE(exists_no_follow(dir / left)) << left;
  }
  EXPECT_FALSE(exists_no_follow(dir / "same"));
}

class CleanerUnprivileged : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::running_as_root()) GTEST_SKIP() << "needs root to hand trees to another user";
  }
};

// A directory the unprivileged user cannot delete anything from, holding one file.
void make_locked(const std::string& path, std::uint64_t bytes) {
  make_dir(path);
  make_file(path + "/stuck", bytes);
  testing::chown_tree(path, 0);
}

TEST_F(CleanerUnprivileged, AKeptRootCreditsOnlyWhatWent) {
  TempDir dir;
  make_dir(dir / "kept/sub");
  make_file(dir / "kept/a", 100);
  make_file(dir / "kept/sub/b", 200);
  make_dir(dir / "stuck-only");
  testing::chown_tree(dir.path(), testing::kNobody);
  make_locked(dir / "kept/locked", 300);
  make_locked(dir / "stuck-only/locked", 50);
  const auto run =
      clean_as_nobody({dir / "kept", dir / "stuck-only"}, {dir / "kept", dir / "stuck-only"});
  const std::string denied = "Permission denied (os error 13)";
  EXPECT_EQ(run.result,
            (CleanResult{{dir / "kept"},
                         {{dir / "kept/locked", denied}, {dir / "stuck-only/locked", denied}},
                         300}));
  // No event for entries inside a kept root, and none for a root that freed nothing.
  EXPECT_EQ(run.events, (Events{"Started 2", "PathStarted " + dir / "kept" + " 0",
                                "PathCleaned " + dir / "kept" + " 300",
                                "PathStarted " + dir / "stuck-only" + " 1", "Finished 300"}));
  EXPECT_FALSE(exists_no_follow(dir / "kept/a"));
  EXPECT_FALSE(exists_no_follow(dir / "kept/sub"));
  EXPECT_TRUE(exists_no_follow(dir / "kept/locked/stuck"));
}

// What is left after a failure is measured through the directory the path led to when it was
// reached, never by its text again: here the text leads through a link that the clean itself
// removes, and resolving it again would find nothing left and credit all.
TEST_F(CleanerUnprivileged, OnlyWhatWentIsCreditedWhenThePathLedThroughALinkItRemoved) {
  TempDir dir;
  make_dir(dir / "t/b");
  make_file(dir / "t/b/y", 5);
  make_link(dir / "t/", dir / "t/b/cache");
  make_dir(dir / "t/d");
  make_link(".", dir / "t/d/self");
  testing::chown_tree(dir.path(), testing::kNobody);
  make_locked(dir / "t/b/a", 1);
  make_file(dir / "t/d/g", 10);
  make_locked(dir / "t/d/locked", 1000);
  const auto run = clean_as_nobody({dir / "t/b/cache/b", dir / "t/d/self"}, {dir / "t/d/self"});
  const std::string denied = "Permission denied (os error 13)";
  EXPECT_EQ(run.result,
            (CleanResult{{dir / "t/d/self"},
                         {{dir / "t/b/cache/b", denied}, {dir / "t/d/self/locked", denied}},
                         5 + 10}));
  EXPECT_TRUE(exists_no_follow(dir / "t/b/a/stuck"));
  EXPECT_FALSE(exists_no_follow(dir / "t/b/cache"));
  // A kept root that is a link inside its own target keeps that link.
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "t/d/self"));
  EXPECT_FALSE(exists_no_follow(dir / "t/d/g"));
}

TEST_F(CleanerUnprivileged, ATreeThatFailsMidwayCreditsWhatWent) {
  TempDir dir;
  make_dir(dir / "tree");
  for (int i = 0; i < 20; ++i) make_file(dir / "tree/f" + std::to_string(i), 10);
  make_file(dir / "after", 1);
  testing::chown_tree(dir.path(), testing::kNobody);
  make_locked(dir / "tree/locked", 300);
  const auto run = clean_as_nobody({dir / "tree", dir / "after"});
  const std::string denied = "Permission denied (os error 13)";
  std::uint64_t gone = 0;
  for (int i = 0; i < 20; ++i)
    gone += exists_no_follow(dir / "tree/f" + std::to_string(i)) ? 0 : 10;
  EXPECT_EQ(run.result, (CleanResult{{dir / "after"}, {{dir / "tree", denied}}, gone + 1}));
  EXPECT_EQ(
      run.events,
      (Events{"Started 2", "PathStarted " + dir / "tree" + " 0",
              "PathFailed " + dir / "tree" + " " + denied, "PathStarted " + dir / "after" + " 1",
              "PathCleaned " + dir / "after" + " 1", "Finished " + std::to_string(gone + 1)}));
  EXPECT_TRUE(exists_no_follow(dir / "tree/locked/stuck"));
}

}  // namespace
}  // namespace sorvik_lib::cleaner
