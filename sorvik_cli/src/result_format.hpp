// The two printed forms of a CleanResult: readable lines for people, and JSON with the record's
// own field names for scripts. Paths that are not valid UTF-8 are shown with U+FFFD.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "sorvik_lib/types/records.hpp"

namespace sorvik_cli {

// {"removed": [...], "errors": [{"path": ..., "message": ...}], "bytesFreed": N}
[[nodiscard]] nlohmann::json result_to_json(const sorvik_lib::types::CleanResult& result);

// Removed paths, errors and bytes freed (in bytes and in human units), one item a line.
[[nodiscard]] std::string format_result(const sorvik_lib::types::CleanResult& result);

}  // namespace sorvik_cli
