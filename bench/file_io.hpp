// Whole-file writes for the harness's requests, on top of the library's descriptor I/O.
#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "sorvik_lib/sys/system_error.hpp"

namespace sorvik_bench {

// Creates or truncates `path` and writes all of `bytes` to it.
[[nodiscard]] std::expected<void, sorvik_lib::sys::SystemError> write_file(const std::string& path,
                                                                           std::string_view bytes);

}  // namespace sorvik_bench
