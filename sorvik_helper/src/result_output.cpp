// Result output for the helper's entry.
#include "result_output.hpp"

#include <unistd.h>

#include "sorvik_lib/sys/io.hpp"
#include "sorvik_lib/types/wire.hpp"

namespace sorvik_helper {

void write_result(const sorvik_lib::types::CleanResult& result) {
  const auto encoded = sorvik_lib::types::encode_result(result);
  if (!encoded) return;
  (void)sorvik_lib::sys::write_all(STDOUT_FILENO, *encoded);
}

}  // namespace sorvik_helper
