// Turns the request bytes into the one result of the run: decode (with the bare-request
// fallback), then hand the request to its road.
#pragma once

#include <string>

#include "sorvik_lib/types/records.hpp"

namespace sorvik_helper {

// Takes the request buffer over and lets it go as soon as it is decoded.
[[nodiscard]] sorvik_lib::types::CleanResult carry_out_request(std::string request_bytes);

// The managed road: resolve the strategy by name and run its cleanup options.
[[nodiscard]] sorvik_lib::types::CleanResult run_managed_clean(
    const sorvik_lib::types::ManagedCleanRequest& request);

}  // namespace sorvik_helper
