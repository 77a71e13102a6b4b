// The two printed forms of a CleanResult: readable lines for people, and JSON with the record's
// own field names for scripts. Ill-formed UTF-8 is shown as U+FFFD in both; the readable lines
// also spell out control characters, so nothing in a path or message can act on a terminal.
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
