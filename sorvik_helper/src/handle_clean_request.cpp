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

sorvik_lib::types::CleanResult handle_clean_request(
    sorvik_lib::types::ElevatedCleanRequest request) {
  ScreenedPaths screened = screen_paths(std::move(request.paths), FORBIDDEN_PATHS);
  // Kept roots pass no rule: they only narrow what the cleaner deletes.
  const PathSet preserve_root_paths(std::make_move_iterator(request.preserveRootPaths.begin()),
                                    std::make_move_iterator(request.preserveRootPaths.end()));
  request.preserveRootPaths.clear();
  // The application learns only the final result, so progress goes nowhere.
  // Whatever was swapped in since screening must not be what gets emptied or removed.
  const auto guard = [&screened](const sorvik_lib::types::Path& path, const struct stat& top) {
    return check_top_entry(screened, path, top);
  };
  auto result = Cleaner::clean(
      screened.accepted, false, preserve_root_paths, [](CleanProgress) {}, guard);
  result.errors.insert(result.errors.end(), std::make_move_iterator(screened.rejected.begin()),
                       std::make_move_iterator(screened.rejected.end()));
  return result;
}

}  // namespace sorvik_helper
