// The helper's silent end on out of memory.
#include "silent_end.hpp"

#include <unistd.h>

#include <exception>
#include <new>

namespace sorvik_helper {
namespace {

// Called by operator new in place of throwing std::bad_alloc, and by std::terminate. Neither may
// allocate, nor return.
[[noreturn]] void end_without_result() { ::_exit(kNoResultStatus); }

}  // namespace

void end_silently_when_out_of_memory() {
  std::set_new_handler(end_without_result);
  std::set_terminate(end_without_result);
}

}  // namespace sorvik_helper
