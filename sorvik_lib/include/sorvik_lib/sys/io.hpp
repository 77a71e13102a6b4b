// Whole-buffer reads and writes on file descriptors, with EINTR and short transfers handled. A
// caller that must be able to stop them (the helper, on SIGTERM) passes its stop flag.
#pragma once

#include <atomic>
#include <chrono>
#include <expected>
#include <string>
#include <string_view>

#include "sorvik_lib/sys/system_error.hpp"

namespace sorvik_lib::sys {

// How often a wait that a stop may end looks at the stop flag. A flag that a signal handler sets
// cannot wake a poll() that is already sleeping, and a wake-up before the poll starts would be
// lost; a wait cut into slices of this length sees the flag, however late, within one slice.
inline constexpr std::chrono::milliseconds kStopCheckInterval{50};

// How long writing goes on waiting for room once a stop has come: a reader that still reads gets
// the whole output; one that stopped reading no longer holds the writer up.
inline constexpr std::chrono::milliseconds kStopWriteGrace{500};

// Reads `fd` to its end. A regular file is read into a buffer sized from its status up front.
// With `stop`, every read waits first (with poll) for the descriptor to be ready, and the reading
// ends with ECANCELED as soon as the flag is set; a descriptor in non-blocking mode is then read
// as it becomes ready.
[[nodiscard]] std::expected<std::string, SystemError> read_all(
    int fd, const std::atomic<bool>* stop = nullptr);

// Opens `path` for reading (following a symbolic link) and reads it whole.
[[nodiscard]] std::expected<std::string, SystemError> read_file(const char* path);

// Writes all of `data`, continuing after short writes, until done or an error occurs. With
// `stop`, the data goes in pieces no larger than a pipe takes at once when poll() says it has
// room, so no write blocks; once the flag is set, a descriptor that stays without room for
// kStopWriteGrace ends the writing with ECANCELED.
[[nodiscard]] std::expected<void, SystemError> write_all(int fd, std::string_view data,
                                                         const std::atomic<bool>* stop = nullptr);

}  // namespace sorvik_lib::sys
