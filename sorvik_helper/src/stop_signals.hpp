// SIGINT and SIGTERM, at every stage of the helper's run: while the request is obtained, while an
// elevated clean walks its paths or a docker prune runs, and while the result is written. Each
// stage looks at one flag; none of them blocks past it.
#pragma once

#include <atomic>
#include <expected>

#include "sorvik_lib/sys/system_error.hpp"

namespace sorvik_helper {

// Catches SIGINT and SIGTERM from now on, for the rest of the run; either sets the flag returned,
// and nothing else.
[[nodiscard]] std::expected<const std::atomic<bool>*, sorvik_lib::sys::SystemError>
catch_stop_signals();

}  // namespace sorvik_helper
