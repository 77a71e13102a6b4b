// The elevated road: screen every requested path, clean the accepted ones and report refusals.
#pragma once

#include <atomic>

#include "sorvik_lib/cleaner/clean_progress.hpp"
#include "sorvik_lib/cleaner/cleaner.hpp"
#include "sorvik_lib/types/records.hpp"

namespace sorvik_helper {

// Takes the request over; never fails: every problem is an entry of the result's errors. Once
// `cancel` is set the cleaner stops at its next entry and every path not done fails with
// "Cancelled".
[[nodiscard]] sorvik_lib::types::CleanResult handle_clean_request(
    sorvik_lib::types::ElevatedCleanRequest request, const std::atomic<bool>* cancel = nullptr);

// The screening and the one cleaner call behind handle_clean_request, for any caller that applies
// the same rules: the accepted paths' records go to the cleaner with `on_progress`, and one entry
// per refused path follows the cleaner's own errors. Kept roots pass no rule; they only narrow
// what the cleaner deletes. `options` brings the caller's tree progress and cancel flag; the
// forbidden directories are the screening's own.
[[nodiscard]] sorvik_lib::cleaner::CleanOutcome screen_and_clean(
    sorvik_lib::types::ElevatedCleanRequest request, sorvik_lib::cleaner::DryRun dry_run,
    const sorvik_lib::cleaner::ProgressCallback& on_progress,
    sorvik_lib::cleaner::TreeOptions options);

}  // namespace sorvik_helper
