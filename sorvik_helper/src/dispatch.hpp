// Turns the request bytes into the one result of the run: decode (with the bare-request
// fallback), then hand the request to its road.
#pragma once

#include <atomic>
#include <string>

#include "sorvik_lib/types/records.hpp"

namespace sorvik_helper {

// Takes the request buffer over and lets it go as soon as it is decoded. Once `stop` is set, an
// elevated clean stops at its next entry and reports every path not done as "Cancelled"; a
// managed clean stops the cleanup at hand (docker gets SIGTERM) and reports it and those not
// begun as "Cancelled".
[[nodiscard]] sorvik_lib::types::CleanResult carry_out_request(
    std::string request_bytes, const std::atomic<bool>* stop = nullptr);

// The managed road: resolve the strategy by name and run its cleanup options.
[[nodiscard]] sorvik_lib::types::CleanResult run_managed_clean(
    const sorvik_lib::types::ManagedCleanRequest& request, const std::atomic<bool>* stop = nullptr);

}  // namespace sorvik_helper
