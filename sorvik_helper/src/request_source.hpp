// Where the helper's one request comes from: standard input, or the request file named by the
// first argument (see request_file.hpp), which is deleted as soon as it has been read.
#pragma once

#include <atomic>
#include <expected>
#include <span>
#include <string>

namespace sorvik_helper {

// The request bytes, or the message of the single "input" error entry when they cannot be read:
// "Cancelled" when `stop` is set before they are all in (standard input that stays open, a FIFO
// with no writer, a slow file). `arguments` is the whole argument vector, program name first (it
// may also be empty).
[[nodiscard]] std::expected<std::string, std::string> obtain_request_bytes(
    std::span<const char* const> arguments, const std::atomic<bool>* stop = nullptr);

// Puts the null device on any of descriptors 0, 1 and 2 that is closed, so that nothing the
// helper opens later can land on a standard stream's number.
void reserve_standard_descriptors();

}  // namespace sorvik_helper
