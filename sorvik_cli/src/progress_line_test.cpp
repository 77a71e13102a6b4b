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

TEST(RedrawThrottle, AtMostOncePerInterval) {
  using namespace std::chrono_literals;
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
