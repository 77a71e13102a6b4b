// The elevated road: screen every requested path, clean the accepted ones and report refusals.
#pragma once

#include "sorvik_lib/types/records.hpp"

namespace sorvik_helper {

// Takes the request over; never fails: every problem is an entry of the result's errors.
[[nodiscard]] sorvik_lib::types::CleanResult handle_clean_request(
    sorvik_lib::types::ElevatedCleanRequest request);

}  // namespace sorvik_helper
