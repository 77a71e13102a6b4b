// The workloads of the many-paths table: a cleaning list of many separate paths, as an
// application hands it over, built fresh under a folder of the harness's own for every run.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "sorvik_lib/sys/system_error.hpp"

namespace sorvik_bench {

enum class ManyPathsKind {
  Files,           // 20,000 files of 1-4 KiB, 100 in each of 200 folders; each file's path given
  OneFileFolders,  // 10,000 folders of one 1-4 KiB file, 100 in each of 100; each folder given
  Missing,         // 20,000 paths that do not exist, 100 in each of 200 folders that do
};

inline constexpr ManyPathsKind kManyPathsKinds[] = {
    ManyPathsKind::Files, ManyPathsKind::OneFileFolders, ManyPathsKind::Missing};

[[nodiscard]] std::string_view workload_name(ManyPathsKind kind);
// One line on the shape of the workload, for the reader of the report.
[[nodiscard]] std::string describe_workload(ManyPathsKind kind);

struct Workload {
  std::vector<std::string> paths;    // the cleaning list, absolute, in the order given
  std::vector<std::string> folders;  // the folders that hold them, which must outlive the run
  std::uint64_t bytes = 0;           // the lengths of the regular files under `paths`
};

// Builds `kind` under `root`, which must not exist yet.
[[nodiscard]] std::expected<Workload, sorvik_lib::sys::SystemError> build_workload(
    ManyPathsKind kind, const std::string& root);

}  // namespace sorvik_bench
