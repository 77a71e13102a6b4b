// Handing on how far a walk has come, at a bounded rate.
#include "progress_reporter.hpp"

namespace sorvik_lib::cleaner {

void TreeProgressReporter::start_stage(TreeStage stage, std::uint64_t entries_total,
                                       std::uint64_t bytes) {
  progress_.stage = stage;
  progress_.entries = 0;
  progress_.entries_total = entries_total;
  progress_.bytes = bytes;
}

void TreeProgressReporter::report_if_due() {
  if (!callback_) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - last_report_ < interval_) return;
  last_report_ = now;
  callback_(progress_);
}

}  // namespace sorvik_lib::cleaner
