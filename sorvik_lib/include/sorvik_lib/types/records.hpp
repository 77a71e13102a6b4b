// The records that travel between the application and the helper: one request in, one result
// out. Field names are those of the protocol and stay as they are.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace sorvik_lib::types {

// A filesystem path as the platform's byte string. Paths decoded from a request are valid UTF-8;
// paths the cleaner finds in directory listings may hold any bytes.
using Path = std::string;

// Delete `paths`; a path also listed in `preserveRootPaths` is emptied, not removed.
struct ElevatedCleanRequest {
  std::vector<Path> paths;
  std::vector<Path> preserveRootPaths;

  friend bool operator==(const ElevatedCleanRequest&, const ElevatedCleanRequest&) = default;
};

// Run the managed-cache strategy named `strategy` with the cleanup options `options`, in order.
struct ManagedCleanRequest {
  std::string strategy;
  std::vector<std::string> options;

  friend bool operator==(const ManagedCleanRequest&, const ManagedCleanRequest&) = default;
};

// The request as it travels; the alternative's index is its tag on the wire
// (0 ElevatedClean, 1 ManagedClean).
using SidecarRequest = std::variant<ElevatedCleanRequest, ManagedCleanRequest>;

// One failure: what it concerns (a path or pseudo-path) and what went wrong.
struct ErrorEntry {
  Path path;
  std::string message;

  friend bool operator==(const ErrorEntry&, const ErrorEntry&) = default;
};

// The one result of a run.
struct CleanResult {
  std::vector<Path> removed;
  std::vector<ErrorEntry> errors;
  std::uint64_t bytesFreed = 0;

  friend bool operator==(const CleanResult&, const CleanResult&) = default;
};

// A result that reports exactly one failure and nothing done.
[[nodiscard]] inline CleanResult single_error_result(Path path, std::string message) {
  CleanResult result;
  result.errors.push_back({std::move(path), std::move(message)});
  return result;
}

}  // namespace sorvik_lib::types
