// Ctrl-C and SIGTERM during a clean: instead of ending the process mid-entry, they raise a flag
// that the cleaner checks between entries, so the tool can still report what went.
#pragma once

#include <atomic>
#include <expected>

#include "sorvik_lib/sys/system_error.hpp"

namespace sorvik_cli {

// While an object lives, SIGINT and SIGTERM only set its flag; the handlers that were there before
// come back when it goes. One at a time: the handlers share one flag.
class InterruptSignals {
 public:
  // Installs both handlers, or none of them.
  [[nodiscard]] static std::expected<InterruptSignals, sorvik_lib::sys::SystemError> install();

  InterruptSignals(InterruptSignals&& other) noexcept;
  InterruptSignals& operator=(InterruptSignals&&) = delete;
  InterruptSignals(const InterruptSignals&) = delete;
  InterruptSignals& operator=(const InterruptSignals&) = delete;
  ~InterruptSignals();

  // Set once either signal arrived since install().
  [[nodiscard]] const std::atomic<bool>& flag() const;

 private:
  InterruptSignals() = default;

  bool installed_ = false;
};

}  // namespace sorvik_cli
