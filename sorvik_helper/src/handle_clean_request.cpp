// Elevated clean request handling: screening, one call of the cleaner, refusals after its entries.
#include "handle_clean_request.hpp"

#include <iterator>

#include "cleaning_guard.hpp"
#include "path_screening.hpp"
#include "sorvik_lib/cleaner/cleaner.hpp"

namespace sorvik_helper {

using sorvik_lib::cleaner::CleanControls;
using sorvik_lib::cleaner::Cleaner;
using sorvik_lib::cleaner::CleanOutcome;
using sorvik_lib::cleaner::CleanProgress;
using sorvik_lib::cleaner::KeptRoots;
using sorvik_lib::cleaner::PathSet;
using sorvik_lib::cleaner::ProgressCallback;
using sorvik_lib::types::CleanResult;
using sorvik_lib::types::ElevatedCleanRequest;

CleanResult handle_clean_request(ElevatedCleanRequest request, const std::atomic<bool>* cancel) {
  // The application learns only the final result, so progress goes nowhere.
  CleanControls controls;
  controls.cancel = cancel;
  return screen_and_clean(
             std::move(request), false, [](CleanProgress) {}, std::move(controls))
      .result;
}

CleanOutcome screen_and_clean(ElevatedCleanRequest request, bool dry_run,
                              const ProgressCallback& on_progress, CleanControls controls) {
  const PathSet preserve_root_paths(std::make_move_iterator(request.preserveRootPaths.begin()),
                                    std::make_move_iterator(request.preserveRootPaths.end()));
  request.preserveRootPaths.clear();
  const KeptRoots kept_roots(preserve_root_paths);
  ScreenedPaths screened =
      screen_paths(std::move(request.paths), platform_forbidden_paths(), &kept_roots);
  // Whatever was swapped in since screening must not be what gets emptied or removed.
  controls.guard = [&screened](const sorvik_lib::types::Path& path, const struct stat& top) {
    return check_top_entry(screened, path, top);
  };
  controls.forbidden_directories = &screened.forbidden;
  auto outcome =
      Cleaner::run(screened.accepted, dry_run, preserve_root_paths, on_progress, controls);
  auto& errors = outcome.result.errors;
  errors.insert(errors.end(), std::make_move_iterator(screened.rejected.begin()),
                std::make_move_iterator(screened.rejected.end()));
  return outcome;
}

}  // namespace sorvik_helper
