// Writing the run's one result to standard output.
#pragma once

#include "sorvik_lib/types/records.hpp"

namespace sorvik_helper {

// Encodes `result` and writes it to standard output in one piece. A result that cannot be encoded
// writes nothing; a write error is ignored, since there is nobody left to tell.
void write_result(const sorvik_lib::types::CleanResult& result);

}  // namespace sorvik_helper
