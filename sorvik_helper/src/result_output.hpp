// Writing the run's one result to standard output.
#pragma once

#include "sorvik_lib/types/records.hpp"

namespace sorvik_helper {

// Encodes `result` and writes it to standard output in one piece. Paths that are not valid UTF-8
// cannot travel as they are: the result is then written with each of them made readable (every
// ill-formed sequence replaced by U+FFFD) instead of not at all. A write error is ignored, since
// there is nobody left to tell.
void write_result(const sorvik_lib::types::CleanResult& result);

}  // namespace sorvik_helper
