// The progress line of `sorvik clean` on a terminal: redrawn in place ("\r", the line, then
// clear-to-end-of-line), never scrolled, and cleared before the report is printed.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

#include "progress_line.hpp"

namespace sorvik_cli {

// Events are taken on the cleaning thread, which draws the line itself when the throttle lets
// it. Events can also stop for a long time (one path may be a tree of millions of files), so a
// second thread redraws a line that has been stale for a whole interval: the path at hand is on
// screen within an interval of the cleaner reaching it, whatever came just before.
class LiveProgress {
 public:
  LiveProgress(int fd, CleanMode mode);
  ~LiveProgress();
  LiveProgress(const LiveProgress&) = delete;
  LiveProgress& operator=(const LiveProgress&) = delete;

  // Takes one event; the last (Finished) is always drawn.
  void on_event(const sorvik_lib::cleaner::CleanProgress& event);
  // Takes one report from inside the path at hand, on the cleaning thread as the events.
  void on_tree_progress(const sorvik_lib::cleaner::TreeProgress& event);

  // Stops redrawing and clears the line, so what follows starts at the left margin.
  void finish();

 private:
  static constexpr std::chrono::milliseconds kInterval{100};

  void redraw_while_running();
  void draw_locked();

  const int fd_;
  const CleanMode mode_;
  std::mutex mutex_;
  std::condition_variable wake_;
  ProgressState state_;
  RedrawThrottle throttle_{kInterval};
  bool stale_ = false;
  bool drawn_ = false;
  bool stopping_ = false;
  std::thread redrawer_;
};

}  // namespace sorvik_cli
