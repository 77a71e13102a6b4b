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
  // Reads and writes carry on as if nothing happened; the flag is looked at between entries.
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

std::expected<void, sorvik_lib::sys::SystemError> release_stop_signals() {
  return set_stop_handler(SIG_DFL);
}

}  // namespace sorvik_helper
