// The signal handlers behind InterruptSignals.
#include "interrupt_signals.hpp"

#include <signal.h>

#include <array>
#include <cstddef>

namespace sorvik_cli {
namespace {

// A handler may only store into a lock-free atomic; anything more is not async-signal-safe.
static_assert(std::atomic<bool>::is_always_lock_free);
std::atomic<bool> g_interrupted{false};

constexpr std::array<int, 2> kSignals = {SIGINT, SIGTERM};
std::array<struct sigaction, kSignals.size()> g_previous{};

extern "C" void note_interrupt(int /*signal*/) { g_interrupted.store(true); }

void restore_first(std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) (void)::sigaction(kSignals[i], &g_previous[i], nullptr);
}

}  // namespace

std::expected<InterruptSignals, sorvik_lib::sys::SystemError> InterruptSignals::install() {
  g_interrupted.store(false);
  struct sigaction action {};
  action.sa_handler = note_interrupt;
  // Restarted system calls: a signal must not turn into a failed read or write in the cleaner.
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);  // a macro on macOS
  for (std::size_t i = 0; i < kSignals.size(); ++i) {
    if (::sigaction(kSignals[i], &action, &g_previous[i]) != 0) {
      const auto error = sorvik_lib::sys::SystemError::from_errno();
      restore_first(i);
      return std::unexpected(error);
    }
  }
  InterruptSignals signals;
  signals.installed_ = true;
  return signals;
}

InterruptSignals::InterruptSignals(InterruptSignals&& other) noexcept
    : installed_(other.installed_) {
  other.installed_ = false;
}

InterruptSignals::~InterruptSignals() {
  if (installed_) restore_first(kSignals.size());
}

const std::atomic<bool>& InterruptSignals::flag() const { return g_interrupted; }

}  // namespace sorvik_cli
