// The one progress line of `sorvik clean`: its wording, its counts and its fit to the width.
#include "progress_line.hpp"

#include <gtest/gtest.h>

#include "display_text.hpp"

namespace sorvik_cli {
namespace {

namespace progress = sorvik_lib::cleaner::progress;

TEST(ProgressState, CountsPathsDoneIncludingSkippedOnes) {
  ProgressState state;
  state.apply(progress::Started{5});
  EXPECT_EQ(state.total(), 5u);
  EXPECT_EQ(state.done(), 0u);
  state.apply(progress::PathStarted{"/t/a", 0});
  EXPECT_EQ(state.current(), "/t/a");
  EXPECT_EQ(state.done(), 0u);
  state.apply(progress::PathCleaned{"/t/a", 1500});
  EXPECT_EQ(state.done(), 1u);
  // Paths 1 and 2 did not exist and sent nothing.
  state.apply(progress::PathStarted{"/t/new\nline", 3});
  EXPECT_EQ(state.done(), 3u);
  EXPECT_EQ(state.current(), R"(/t/new\nline)");
  state.apply(progress::PathFailed{"/t/new\nline", "Permission denied (os error 13)"});
  EXPECT_EQ(state.done(), 4u);
  EXPECT_EQ(state.failures(), 1u);
  EXPECT_FALSE(state.finished());
  state.apply(progress::Finished{1500});
  EXPECT_EQ(state.done(), 5u);
  EXPECT_EQ(state.bytes(), 1500u);
  EXPECT_TRUE(state.finished());
}

ProgressState state_at(std::string path, std::uint64_t failures = 0) {
  ProgressState state;
  state.apply(progress::Started{10});
  state.apply(progress::PathStarted{"/a", 0});
  state.apply(progress::PathCleaned{"/a", 1'230'000'000});
  state.apply(progress::PathStarted{"/b", 1});
  state.apply(progress::PathCleaned{"/b", 0});
  for (std::uint64_t i = 0; i < failures; ++i) {
    state.apply(progress::PathStarted{"/c", 2 + i});
    state.apply(progress::PathFailed{"/c", "No"});
  }
  state.apply(progress::PathStarted{std::move(path), 2 + failures});
  return state;
}

TEST(ProgressLine, Wording) {
  EXPECT_EQ(render_progress_line(ProgressState{}, CleanMode::Delete, 80), "0/0 paths, 0B freed");
  EXPECT_EQ(render_progress_line(state_at("/tmp/x"), CleanMode::Delete, 80),
            "2/10 paths, 1.23GB freed: /tmp/x");
  EXPECT_EQ(render_progress_line(state_at("/tmp/x"), CleanMode::DryRun, 80),
            "2/10 paths, 1.23GB found: /tmp/x");
  EXPECT_EQ(render_progress_line(state_at("/tmp/x", 1), CleanMode::Delete, 80),
            "3/10 paths, 1.23GB freed, 1 error: /tmp/x");
  EXPECT_EQ(render_progress_line(state_at("/tmp/x", 2), CleanMode::Delete, 80),
            "4/10 paths, 1.23GB freed, 2 errors: /tmp/x");
}

TEST(ProgressLine, ThePathIsShortenedToTheWidth) {
  const std::string path = "/Users/someone/Library/Caches/com.example.app/blobs/0123456789.bin";
  const auto state = state_at(path);
  for (std::size_t columns : {79u, 60u, 40u, 34u}) {
    const std::string line = render_progress_line(state, CleanMode::Delete, columns);
    EXPECT_EQ(display_width(line), columns) << line;
    EXPECT_TRUE(line.starts_with("2/10 paths, 1.23GB freed: /")) << line;
    EXPECT_TRUE(line.ends_with(".bin")) << line;
  }
}

TEST(ProgressLine, TooNarrowForThePathKeepsTheCounts) {
  const auto state = state_at("/tmp/some/path");
  EXPECT_EQ(render_progress_line(state, CleanMode::Delete, 30), "2/10 paths, 1.23GB freed");
  EXPECT_EQ(render_progress_line(state, CleanMode::Delete, 12), "2/10 paths, ");
  EXPECT_EQ(render_progress_line(state, CleanMode::Delete, 0), "");
}

using sorvik_lib::cleaner::TreeProgress;
using sorvik_lib::cleaner::TreeStage;
using namespace std::chrono_literals;

// A tree of 200,000 entries at hand as the third of ten paths: measured, then removed, each walk
// reporting every 50ms.
TEST(ProgressLine, TheWalkInsideThePathAtHandWithItsRate) {
  auto state = state_at("/t/tree");
  const ProgressState::Clock::time_point start{};
  state.apply(TreeProgress{"/t/tree", TreeStage::Measuring, 20'000, 0, 150'000'000}, start);
  // One report says nothing yet about the rate.
  EXPECT_EQ(render_progress_line(state, CleanMode::Delete, 200),
            "2/10 paths, 1.23GB freed; measuring 20,000 entries, 150MB: /t/tree");
  state.apply(TreeProgress{"/t/tree", TreeStage::Measuring, 120'000, 0, 1'200'000'000},
              start + 50ms);
  EXPECT_EQ(render_progress_line(state, CleanMode::Delete, 200),
            "2/10 paths, 1.23GB freed; measuring 120,000 entries, 1.2GB, 2,000,000 entries/s: "
            "/t/tree");
  // Removing is a walk of its own: its rate starts over.
  state.apply(TreeProgress{"/t/tree", TreeStage::Removing, 10'000, 200'000, 1'500'000'000},
              start + 1s);
  EXPECT_EQ(render_progress_line(state, CleanMode::Delete, 200),
            "2/10 paths, 1.23GB freed; removing 10,000/200,000 entries: /t/tree");
  state.apply(TreeProgress{"/t/tree", TreeStage::Removing, 50'000, 200'000, 1'500'000'000},
              start + 2s);
  EXPECT_EQ(render_progress_line(state, CleanMode::Delete, 200),
            "2/10 paths, 1.23GB freed; removing 50,000/200,000 entries, 40,000 entries/s: "
            "/t/tree");
  ASSERT_TRUE(state.walk().has_value());
  EXPECT_EQ(state.walk()->entries_per_second, 40'000u);

  // The path done, the line goes back to the counts; the next path's walk starts afresh.
  state.apply(progress::PathCleaned{"/t/tree", 1'500'000'000});
  EXPECT_FALSE(state.walk().has_value());
  EXPECT_EQ(render_progress_line(state, CleanMode::Delete, 200),
            "3/10 paths, 2.73GB freed: /t/tree");
  state.apply(progress::PathStarted{"/t/next", 3});
  state.apply(TreeProgress{"/t/next", TreeStage::Measuring, 5'000, 0, 1000}, start + 3s);
  EXPECT_EQ(render_progress_line(state, CleanMode::Delete, 200),
            "3/10 paths, 2.73GB freed; measuring 5,000 entries, 1kB: /t/next");
}

TEST(ProgressLine, ANarrowLineGivesUpThePathBeforeTheWalk) {
  auto state = state_at("/t/a/tree/with/a/long/name");
  const ProgressState::Clock::time_point start{};
  state.apply(TreeProgress{"/t/a/tree/with/a/long/name", TreeStage::Removing, 1, 9, 0}, start);
  const std::string counts = "2/10 paths, 1.23GB freed; removing 1/9 entries";
  EXPECT_EQ(render_progress_line(state, CleanMode::Delete, counts.size() + 2), counts);
  const std::string shortened = render_progress_line(state, CleanMode::Delete, counts.size() + 12);
  EXPECT_TRUE(shortened.starts_with(counts + ": /t")) << shortened;
  EXPECT_TRUE(shortened.ends_with("/name")) << shortened;
  EXPECT_EQ(display_width(shortened), counts.size() + 12);
}

// Whether every backslash of `text` begins a whole escape: "\u{hex}", or a backslash and one of
// the characters displayable() escapes that way.
bool holds_whole_escapes(std::string_view text) {
  for (std::size_t at = text.find('\\'); at != std::string_view::npos; at = text.find('\\', at)) {
    const std::string_view rest = text.substr(at + 1);
    if (rest.starts_with("u{")) {
      const std::size_t close = rest.find('}');
      if (close == std::string_view::npos || close == 2) return false;
      if (rest.substr(2, close - 2).find_first_not_of("0123456789abcdef") !=
          std::string_view::npos) {
        return false;
      }
      at += close + 2;
      continue;
    }
    if (rest.empty() || std::string_view("nrt0\\\"").find(rest[0]) == std::string_view::npos) {
      return false;
    }
    at += 2;
  }
  return true;
}

TEST(ProgressLine, CutsFallBetweenWholeEscapes) {
  // Escapes of every length, a doubled backslash before a literal "u{1b}", and wide characters.
  const std::string path = displayable(
      "/t/\x1b\x1b\x1b\x1b[31mred\x1b[0m/\\u{1b}\u202e\n\t\x7f/\xe4\xb8\xad\xe6\x96\x87/"
      "\x1b\x1b\x1b\x1b\x1b\x1b/end");
  ASSERT_TRUE(holds_whole_escapes(path)) << path;
  const auto state = state_at(path);
  const std::string counts = "2/10 paths, 1.23GB freed";
  for (std::size_t columns = 0; columns <= counts.size() + display_width(path) + 4; ++columns) {
    const std::string line = render_progress_line(state, CleanMode::Delete, columns);
    EXPECT_LE(display_width(line), columns) << line;
    EXPECT_TRUE(holds_whole_escapes(line)) << columns << ": " << line;
  }
  for (std::size_t columns = 0; columns <= display_width(path); ++columns) {
    const std::string start = truncate_to_width(path, columns);
    EXPECT_TRUE(path.starts_with(start));
    EXPECT_TRUE(holds_whole_escapes(start)) << columns << ": " << start;
    const std::string shortened = shorten_middle(path, columns);
    EXPECT_LE(display_width(shortened), columns) << shortened;
    EXPECT_TRUE(holds_whole_escapes(shortened)) << columns << ": " << shortened;
  }
  // An escape is as wide as it is long; a cut one column short of it drops it whole.
  EXPECT_EQ(display_width("a\\u{1b}b"), 8u);
  EXPECT_EQ(truncate_to_width("a\\u{1b}b", 6), "a");
  EXPECT_EQ(truncate_to_width("a\\u{1b}b", 7), "a\\u{1b}");
  EXPECT_EQ(truncate_to_width("a\\\\u{1b}", 3), "a\\\\");
  EXPECT_EQ(truncate_to_width("a\\\\u{1b}", 4), "a\\\\u");
}

TEST(RedrawThrottle, AtMostOncePerInterval) {
  RedrawThrottle throttle(100ms);
  const RedrawThrottle::Clock::time_point start{};
  EXPECT_TRUE(throttle.admit(start + 5s));
  EXPECT_FALSE(throttle.admit(start + 5s + 1ms));
  EXPECT_FALSE(throttle.admit(start + 5s + 99ms));
  EXPECT_TRUE(throttle.admit(start + 5s + 100ms));
  EXPECT_FALSE(throttle.admit(start + 5s + 150ms));
  EXPECT_TRUE(throttle.admit(start + 6s));
}

}  // namespace
}  // namespace sorvik_cli
