// The stop flag and its signal handlers.
#include "stop_signals.hpp"

#include <csignal>

namespace sorvik_helper {

namespace {

// Lock-free, so a handler may set it.
std::atomic<bool> stop_requested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void request_stop(int) { stop_requested.store(true, std::memory_order_relaxed); }

[[nodiscard]] std::expected<void, sorvik_lib::sys::SystemError> set_stop_handler(
    void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  // Calls carry on as if nothing happened: every wait that could last (for input, for room on
  // standard output, for a docker child) is cut into short polls that look at the flag, so none
  // needs the signal to break it. Without restarts, a cleaner's call on a network or FUSE volume
  // could fail with EINTR and be reported as the path's error instead of "Cancelled".
  action.sa_flags = SA_RESTART;
  for (const int signal : {SIGINT, SIGTERM}) {
    if (::sigaction(signal, &action, nullptr) != 0) {
      return std::unexpected(sorvik_lib::sys::SystemError::from_errno());
    }
  }
  return {};
}

}  // namespace

std::expected<const std::atomic<bool>*, sorvik_lib::sys::SystemError> catch_stop_signals() {
  if (auto caught = set_stop_handler(request_stop); !caught) return std::unexpected(caught.error());
  return &stop_requested;
}

}  // namespace sorvik_helper
