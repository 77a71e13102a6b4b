// The cleaner's progress events. Texts are paths made readable: each ill-formed UTF-8 sequence is
// replaced by U+FFFD, while the result itself keeps the exact bytes.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <variant>

namespace sorvik_lib::cleaner {

namespace progress {

// Once, first, before any path is looked at.
struct Started {
  std::uint64_t path_count = 0;
  friend bool operator==(const Started&, const Started&) = default;
};

// A path that exists is about to be measured; `index` counts every input path, skipped ones too.
struct PathStarted {
  std::string path;
  std::uint64_t index = 0;
  friend bool operator==(const PathStarted&, const PathStarted&) = default;
};

// A path was removed or listed in a dry run, or a kept root was emptied of a non-zero amount.
struct PathCleaned {
  std::string path;
  std::uint64_t bytes = 0;
  friend bool operator==(const PathCleaned&, const PathCleaned&) = default;
};

// The removal of an input path failed, or a kept root could not be listed.
struct PathFailed {
  std::string path;
  std::string message;
  friend bool operator==(const PathFailed&, const PathFailed&) = default;
};

// Once, last, with the final total.
struct Finished {
  std::uint64_t total_bytes = 0;
  friend bool operator==(const Finished&, const Finished&) = default;
};

}  // namespace progress

using CleanProgress = std::variant<progress::Started, progress::PathStarted, progress::PathCleaned,
                                   progress::PathFailed, progress::Finished>;

// Called synchronously for each event; it cannot stop the work.
using ProgressCallback = std::function<void(CleanProgress)>;

// Which walk over the path at hand a TreeProgress tells about.
enum class TreeStage { Measuring, Removing };

// How far the walk inside the path at hand has come: a path may be a tree of millions of entries,
// and the per-path events above say nothing until it is done. Sent at most every
// kTreeProgressInterval while a walk runs; never for a walk that ends sooner.
struct TreeProgress {
  std::string path;  // the input path at hand, made readable as in the events above
  TreeStage stage = TreeStage::Measuring;
  std::uint64_t entries = 0;        // entries measured, or removed, so far in this path
  std::uint64_t entries_total = 0;  // while removing: the entries the measure found; else 0
  std::uint64_t bytes = 0;  // while measuring: bytes counted so far; while removing: the measure
  friend bool operator==(const TreeProgress&, const TreeProgress&) = default;
};

inline constexpr std::chrono::milliseconds kTreeProgressInterval{50};

// Called synchronously on the cleaning thread; it cannot stop the work.
using TreeProgressCallback = std::function<void(const TreeProgress&)>;

}  // namespace sorvik_lib::cleaner
