// Page discarding, by madvise.
#include "sorvik_lib/sys/memory.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace sorvik_lib::sys {

void discard_pages(const char* begin, const char* end) {
  static const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const std::uintptr_t first = (reinterpret_cast<std::uintptr_t>(begin) + page - 1) & ~(page - 1);
  const std::uintptr_t last = reinterpret_cast<std::uintptr_t>(end) & ~(page - 1);
  if (first >= last) return;
#if defined(__linux__)
  // Frees the pages at once: a later touch would find zeros, but nobody touches them again.
  constexpr int kAdvice = MADV_DONTNEED;
#else
  // Elsewhere MADV_DONTNEED may keep the pages; MADV_FREE lets the system take them back.
  constexpr int kAdvice = MADV_FREE;
#endif
  // Advice that is not taken only means the memory goes later, when the buffer is freed.
  (void)::madvise(reinterpret_cast<void*>(first), last - first, kAdvice);
}

}  // namespace sorvik_lib::sys
