// Writing the run's one result to standard output.
#pragma once

#include <atomic>

#include "sorvik_lib/types/records.hpp"

namespace sorvik_helper {

// Encodes `result` and writes it to standard output in one piece. Paths that are not valid UTF-8
// cannot travel as they are: the result is then written with each of them made readable (every
// ill-formed sequence replaced by U+FFFD) instead of not at all. A write error is ignored, since
// there is nobody left to tell. Once `stop` is set, the writing gives up when standard output has
// had no room for sys::kStopWriteGrace (a reader that stopped reading cannot hold the helper).
void write_result(const sorvik_lib::types::CleanResult& result,
                  const std::atomic<bool>* stop = nullptr);

}  // namespace sorvik_helper
