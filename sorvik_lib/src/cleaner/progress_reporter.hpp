// How far a walk inside one path has come, handed on at a bounded rate.
#pragma once

#include <chrono>
#include <cstdint>
#include <utility>

#include "sorvik_lib/cleaner/clean_progress.hpp"
#include "sorvik_lib/types/saturating.hpp"

namespace sorvik_lib::cleaner {

// Counts a walk's entries into a TreeProgress and hands it on at most once per interval. The
// clock is read only every few hundred entries, so the count costs next to nothing.
class TreeProgressReporter {
 public:
  TreeProgressReporter(const TreeProgressCallback& callback, std::chrono::milliseconds interval,
                       TreeProgress progress)
      : callback_(callback), interval_(interval), progress_(std::move(progress)) {}

  void count_entry() {
    if ((++progress_.entries & 255) == 0) report_if_due();
  }
  void add_bytes(std::uint64_t bytes) { types::add_saturating(progress_.bytes, bytes); }

  // Begins another stage of the same path; the entry count starts again.
  void start_stage(TreeStage stage, std::uint64_t entries_total, std::uint64_t bytes) {
    progress_ = {std::move(progress_.path), stage, 0, entries_total, bytes};
  }

 private:
  void report_if_due() {
    if (!callback_) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - last_report_ < interval_) return;
    last_report_ = now;
    callback_(progress_);
  }

  const TreeProgressCallback& callback_;
  const std::chrono::milliseconds interval_;
  TreeProgress progress_;
  std::chrono::steady_clock::time_point last_report_ = std::chrono::steady_clock::now();
};

}  // namespace sorvik_lib::cleaner
