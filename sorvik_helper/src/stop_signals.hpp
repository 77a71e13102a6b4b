// SIGINT and SIGTERM while the helper cleans paths: the cleaner stops at its next entry and the
// one result is still written, with every path not done reported as cancelled.
#pragma once

#include <atomic>
#include <expected>

#include "sorvik_lib/sys/system_error.hpp"

namespace sorvik_helper {

// Catches SIGINT and SIGTERM from now on; either sets the flag returned, and nothing else.
[[nodiscard]] std::expected<const std::atomic<bool>*, sorvik_lib::sys::SystemError>
catch_stop_signals();

// Gives SIGINT and SIGTERM back their default effect (ending the process).
[[nodiscard]] std::expected<void, sorvik_lib::sys::SystemError> release_stop_signals();

}  // namespace sorvik_helper
