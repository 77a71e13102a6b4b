// What `sorvik clean` tells at the end: for a person the summary in human units, the paths a dry
// run would remove with their sizes, and one line per error; for a script one JSON document.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <string_view>

#include "sorvik_lib/cleaner/cleaner.hpp"
#include "sorvik_lib/types/records.hpp"

namespace sorvik_cli {

enum class CleanMode { Delete, DryRun };

// A path the cleaner listed, with its measure, as its PathCleaned event told it.
struct ListedPath {
  std::string path;  // UTF-8, not yet made displayable
  std::uint64_t bytes = 0;
};

// "1 path", "0 paths", "3 errors".
[[nodiscard]] std::string count_of(std::uint64_t count, std::string_view singular,
                                   std::string_view plural);

// "Freed 1.23GB (1.3GB on disk) from 3 paths, 1 error", or "Would free ..." for a dry run, and
// "Interrupted: freed ..." for a clean the cancel flag stopped; the error count only when there
// are errors.
[[nodiscard]] std::string summary_line(const sorvik_lib::cleaner::CleanOutcome& outcome,
                                       CleanMode mode);

// The whole report, each line ending in "\n": for a dry run first the listed paths with their
// sizes, then the summary, then "error: PATH: MESSAGE" for each error, and for a dry run a last
// line saying that nothing was deleted.
[[nodiscard]] std::string format_clean_report(const sorvik_lib::cleaner::CleanOutcome& outcome,
                                              CleanMode mode, std::span<const ListedPath> listed);

// The result as `sorvik result --json` prints it, with "bytesAllocated", "dryRun" and
// "interrupted" besides, always all three.
[[nodiscard]] nlohmann::json clean_to_json(const sorvik_lib::cleaner::CleanOutcome& outcome,
                                           CleanMode mode);

}  // namespace sorvik_cli
