// The stop flag and its signal handlers.
#include "stop_signals.hpp"

#include <csignal>

namespace sorvik_helper {

namespace {

// Lock-free, so a handler may set it.
std::atomic<bool> stop_requested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void request_stop(int) { stop_requested.store(true, std::memory_order_relaxed); }

void set_stop_handler(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  // Reads and writes carry on as if nothing happened; the flag is looked at between entries.
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

const std::atomic<bool>& catch_stop_signals() {
  set_stop_handler(request_stop);
  return stop_requested;
}

void release_stop_signals() { set_stop_handler(SIG_DFL); }

}  // namespace sorvik_helper
