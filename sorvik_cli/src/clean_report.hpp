// What `sorvik clean` tells a person at the end: the summary in human units, the paths a dry run
// would remove with their sizes, and one line per error.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

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

// "Freed 1.23GB from 3 paths, 1 error", or "Would free ..." for a dry run; the error count only
// when there are errors.
[[nodiscard]] std::string summary_line(const sorvik_lib::types::CleanResult& result,
                                       CleanMode mode);

// The whole report, each line ending in "\n": for a dry run first the listed paths with their
// sizes, then the summary, then "error: PATH: MESSAGE" for each error, and for a dry run a last
// line saying that nothing was deleted.
[[nodiscard]] std::string format_clean_report(const sorvik_lib::types::CleanResult& result,
                                              CleanMode mode, std::span<const ListedPath> listed);

}  // namespace sorvik_cli
