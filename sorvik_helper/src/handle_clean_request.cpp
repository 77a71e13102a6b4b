// Elevated clean request handling: screening, one call of the cleaner, refusals after its entries.
#include "sorvik_screening/handle_clean_request.hpp"

#include <iterator>

#include "sorvik_lib/cleaner/cleaner.hpp"
#include "sorvik_screening/path_screening.hpp"

namespace sorvik_helper {

namespace cleaner = sorvik_lib::cleaner;
using sorvik_lib::types::ElevatedCleanRequest;

sorvik_lib::types::CleanResult handle_clean_request(ElevatedCleanRequest request,
                                                    const std::atomic<bool>* cancel) {
  // The application learns only the final result, so progress goes nowhere.
  cleaner::TreeOptions options;
  options.cancel = cancel;
  return screen_and_clean(
             std::move(request), cleaner::DryRun::No, [](cleaner::CleanProgress) {}, options)
      .result;
}

cleaner::CleanOutcome screen_and_clean(ElevatedCleanRequest request, cleaner::DryRun dry_run,
                                       const cleaner::ProgressCallback& on_progress,
                                       cleaner::TreeOptions options) {
  const cleaner::PathSet kept_roots(std::make_move_iterator(request.preserveRootPaths.begin()),
                                    std::make_move_iterator(request.preserveRootPaths.end()));
  request.preserveRootPaths.clear();
  ScreenedPaths screened =
      screen_paths(std::move(request.paths), platform_forbidden_paths(), kept_roots);
  options.forbidden = &screened.forbidden;
  auto outcome =
      cleaner::Cleaner::run(screened.accepted, screened.records, dry_run, on_progress, options);
  auto& errors = outcome.result.errors;
  errors.insert(errors.end(), std::make_move_iterator(screened.rejected.begin()),
                std::make_move_iterator(screened.rejected.end()));
  return outcome;
}

}  // namespace sorvik_helper
