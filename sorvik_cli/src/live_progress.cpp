// Drawing the progress line in place on a terminal.
#include "live_progress.hpp"

#include <system_error>

#include "sorvik_lib/sys/io.hpp"
#include "terminal.hpp"

namespace sorvik_cli {

LiveProgress::LiveProgress(int fd, CleanMode mode) : fd_(fd), mode_(mode) {
  try {
    redrawer_ = std::thread([this] { redraw_while_running(); });
  } catch (const std::system_error&) {
    // Without the second thread the line is still drawn on each admitted event.
  }
}

LiveProgress::~LiveProgress() { finish(); }

void LiveProgress::on_event(const sorvik_lib::cleaner::CleanProgress& event) {
  const std::lock_guard lock(mutex_);
  state_.apply(event);
  stale_ = true;
  const bool last = std::holds_alternative<sorvik_lib::cleaner::progress::Finished>(event);
  if (last || throttle_.admit(RedrawThrottle::Clock::now())) draw_locked();
}

void LiveProgress::on_tree_progress(const sorvik_lib::cleaner::TreeProgress& event) {
  const auto now = RedrawThrottle::Clock::now();
  const std::lock_guard lock(mutex_);
  state_.apply(event, now);
  stale_ = true;
  if (throttle_.admit(now)) draw_locked();
}

void LiveProgress::finish() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (redrawer_.joinable()) redrawer_.join();
  const std::lock_guard lock(mutex_);
  if (drawn_) (void)sorvik_lib::sys::write_all(fd_, "\r\x1b[K");
  drawn_ = false;
}

void LiveProgress::redraw_while_running() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    wake_.wait_for(lock, kInterval);
    if (!stopping_ && stale_ && throttle_.admit(RedrawThrottle::Clock::now())) draw_locked();
  }
}

void LiveProgress::draw_locked() {
  // One column stays free: a line that fills the last column leaves some terminals waiting to
  // wrap, and the next "\r" would then land on a new line.
  const std::size_t columns = terminal_columns(fd_);
  // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "literal" + std::string&&.
  std::string line = "\r";
  line += render_progress_line(state_, mode_, columns > 1 ? columns - 1 : 1);
  line += "\x1b[K";
  (void)sorvik_lib::sys::write_all(fd_, line);
  stale_ = false;
  drawn_ = true;
}

}  // namespace sorvik_cli
