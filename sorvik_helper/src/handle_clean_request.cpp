// Elevated clean request handling: screening, one call of the cleaner, refusals after its entries.
#include "handle_clean_request.hpp"

#include <iterator>

#include "cleaning_guard.hpp"
#include "path_screening.hpp"
#include "sorvik_lib/cleaner/cleaner.hpp"

namespace sorvik_helper {

using sorvik_lib::cleaner::Cleaner;
using sorvik_lib::cleaner::CleanProgress;
using sorvik_lib::cleaner::PathSet;
using sorvik_lib::cleaner::ProgressCallback;
using sorvik_lib::types::CleanResult;
using sorvik_lib::types::ElevatedCleanRequest;

CleanResult handle_clean_request(ElevatedCleanRequest request) {
  // The application learns only the final result, so progress goes nowhere.
  return screen_and_clean(std::move(request), false, [](CleanProgress) {});
}

CleanResult screen_and_clean(ElevatedCleanRequest request, bool dry_run,
                             const ProgressCallback& on_progress) {
  ScreenedPaths screened = screen_paths(std::move(request.paths), FORBIDDEN_PATHS);
  const PathSet preserve_root_paths(std::make_move_iterator(request.preserveRootPaths.begin()),
                                    std::make_move_iterator(request.preserveRootPaths.end()));
  request.preserveRootPaths.clear();
  // Whatever was swapped in since screening must not be what gets emptied or removed.
  const auto guard = [&screened](const sorvik_lib::types::Path& path, const struct stat& top) {
    return check_top_entry(screened, path, top);
  };
  auto result =
      Cleaner::clean(screened.accepted, dry_run, preserve_root_paths, on_progress, guard);
  result.errors.insert(result.errors.end(), std::make_move_iterator(screened.rejected.begin()),
                       std::make_move_iterator(screened.rejected.end()));
  return result;
}

}  // namespace sorvik_helper
