// The live progress line of `sorvik clean`: what the cleaner's events say so far (paths done of
// all, bytes, how far the walk inside the path at hand has come and how fast, the path at hand),
// written as one line that fits the terminal.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "clean_report.hpp"
#include "sorvik_lib/cleaner/clean_progress.hpp"

namespace sorvik_cli {

// How far the walk inside the path at hand has come.
struct TreeWalk {
  sorvik_lib::cleaner::TreeStage stage = sorvik_lib::cleaner::TreeStage::Measuring;
  std::uint64_t entries = 0;
  std::uint64_t entries_total = 0;       // while removing: what the measure found
  std::uint64_t bytes = 0;               // while measuring: counted so far
  std::uint64_t entries_per_second = 0;  // 0 until a second report of the same walk
};

// What the events of one clean have told so far.
class ProgressState {
 public:
  using Clock = std::chrono::steady_clock;

  void apply(const sorvik_lib::cleaner::CleanProgress& event);
  // A report from inside the path at hand, taken at `now`: the rate is measured between the first
  // report of a walk and the latest.
  void apply(const sorvik_lib::cleaner::TreeProgress& event, Clock::time_point now);

  [[nodiscard]] std::uint64_t total() const { return total_; }
  // Paths finished: cleaned, failed or skipped because they did not exist.
  [[nodiscard]] std::uint64_t done() const { return done_; }
  [[nodiscard]] std::uint64_t bytes() const { return bytes_; }
  [[nodiscard]] std::uint64_t failures() const { return failures_; }
  // The path being worked on, or the last one, already made displayable; empty before the first.
  [[nodiscard]] const std::string& current() const { return current_; }
  [[nodiscard]] bool finished() const { return finished_; }
  // The walk inside the path at hand; none before its first report or once the path is done.
  [[nodiscard]] const std::optional<TreeWalk>& walk() const { return walk_; }

 private:
  std::uint64_t total_ = 0;
  std::uint64_t done_ = 0;
  std::uint64_t index_ = 0;
  std::uint64_t bytes_ = 0;
  std::uint64_t failures_ = 0;
  std::string current_;
  bool finished_ = false;
  std::optional<TreeWalk> walk_;
  Clock::time_point walk_started_{};
  std::uint64_t walk_first_entries_ = 0;
};

// "3/10 paths, 1.23GB freed, 1 error: /path/at/hand" (a dry run says "found" for "freed"), with
// the walk inside the path at hand before the path once it has reported ("; measuring 120,000
// entries, 1.2GB" or "; removing 50,000/200,000 entries", then ", 41,000 entries/s"), in at most
// `columns` columns: the path is shortened in the middle first, then the line is cut.
[[nodiscard]] std::string render_progress_line(const ProgressState& state, CleanMode mode,
                                               std::size_t columns);

// Lets a redraw through at most once per interval; the first always passes.
class RedrawThrottle {
 public:
  using Clock = std::chrono::steady_clock;

  explicit RedrawThrottle(Clock::duration interval) : interval_(interval) {}

  [[nodiscard]] bool admit(Clock::time_point now);

 private:
  Clock::duration interval_;
  Clock::time_point last_{};
  bool drawn_ = false;
};

}  // namespace sorvik_cli
