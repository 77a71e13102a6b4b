// Result output for the helper's entry.
#include "result_output.hpp"

#include <unistd.h>

#include "sorvik_lib/sys/io.hpp"
#include "sorvik_lib/types/utf8.hpp"
#include "sorvik_lib/types/wire.hpp"

namespace sorvik_helper {

using sorvik_lib::types::CleanResult;

namespace {

// Names found inside kept roots may hold any bytes. The clean has happened either way, so the
// application gets a readable account of it rather than nothing.
CleanResult with_readable_paths(const CleanResult& result) {
  CleanResult readable = result;
  for (auto& path : readable.removed) path = sorvik_lib::types::to_utf8_lossy(path);
  for (auto& entry : readable.errors) entry.path = sorvik_lib::types::to_utf8_lossy(entry.path);
  return readable;
}

}  // namespace

void write_result(const CleanResult& result, const std::atomic<bool>* stop) {
  auto encoded = sorvik_lib::types::encode_result(result);
  if (!encoded) encoded = sorvik_lib::types::encode_result(with_readable_paths(result));
  if (!encoded) return;
  (void)sorvik_lib::sys::write_all(STDOUT_FILENO, *encoded, stop);
}

}  // namespace sorvik_helper
