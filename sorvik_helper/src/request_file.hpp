// The request file named on the command line: read only when it is a regular file or a FIFO, and
// deleted afterwards only while its name still leads to what was read.
#pragma once

#include <atomic>
#include <expected>
#include <string>

namespace sorvik_helper {

// Why a request file that is a device or a socket is not read. A directory is refused with the
// system's own text for reading one ("Is a directory (os error 21)").
inline constexpr const char* kNotARequestFile = "Not a regular file or FIFO";

// The file's bytes, after which its name is deleted (a symbolic link itself, never its target).
// On failure the message of the "input" error entry, and the file is left in place: "Failed to
// read request file: " with the system error text or kNotARequestFile, or "Cancelled" when `stop`
// was set while the file was opened or read (a FIFO with no writer waits until then).
[[nodiscard]] std::expected<std::string, std::string> read_request_file(
    const char* path, const std::atomic<bool>* stop);

}  // namespace sorvik_helper
