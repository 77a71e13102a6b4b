// Page discarding and heap preparation, by madvise.
#include "sorvik_lib/sys/memory.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "sorvik_lib/platform.hpp"

#if SORVIK_HAS_GLIBC_MALLOC
#include <malloc.h>
#endif

namespace sorvik_lib::sys {
namespace {

std::uintptr_t page_size() {
  static const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  return page;
}

}  // namespace

void discard_pages(const char* begin, const char* end) {
  const std::uintptr_t page = page_size();
  const std::uintptr_t first = (reinterpret_cast<std::uintptr_t>(begin) + page - 1) & ~(page - 1);
  const std::uintptr_t last = reinterpret_cast<std::uintptr_t>(end) & ~(page - 1);
  if (first >= last) return;
#if SORVIK_MADV_DONTNEED_FREES
  // Frees the pages at once: a later touch would find zeros, but nobody touches them again.
  constexpr int kAdvice = MADV_DONTNEED;
#else
  // Elsewhere MADV_DONTNEED may keep the pages; MADV_FREE lets the system take them back.
  constexpr int kAdvice = MADV_FREE;
#endif
  // Advice that is not taken only means the memory goes later, when the buffer is freed.
  (void)::madvise(reinterpret_cast<void*>(first), last - first, kAdvice);
}

#if SORVIK_HAS_GLIBC_MALLOC && defined(MADV_HUGEPAGE)

void prepare_heap_for(std::size_t bytes) {
  // Below this the page faults cost less than the few system calls spent here.
  constexpr std::size_t kWorthIt = 16 * 1024 * 1024;
  constexpr std::size_t kLargestReserve = std::size_t{1} << 30;
  if (bytes < kWorthIt) return;
  const std::size_t reserve = std::min(bytes, kLargestReserve);
  // Blocks up to the largest threshold (a vector of a million paths) come from the heap too, and
  // the heap is never cut back while the request is alive.
  ::mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
  ::mallopt(M_TRIM_THRESHOLD, static_cast<int>(std::min<std::size_t>(2 * reserve, INT32_MAX)));
  // One allocation that does not fit makes the heap grow by the whole padding at once.
  const auto before = reinterpret_cast<std::uintptr_t>(::sbrk(0));
  ::mallopt(M_TOP_PAD, static_cast<int>(reserve));
  void* grow = std::malloc(256 * 1024);
  ::mallopt(M_TOP_PAD, 128 * 1024);
  std::free(grow);
  const auto after = reinterpret_cast<std::uintptr_t>(::sbrk(0));
  // Only the part just added, which nothing has touched beyond a chunk header or two. Whether the
  // system takes the advice or not, the memory works the same.
  constexpr std::uintptr_t kHugePage = 2 * 1024 * 1024;
  const std::uintptr_t first = (before + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t last = after & ~(page_size() - 1);
  if (grow == nullptr || before == static_cast<std::uintptr_t>(-1) || first >= last) return;
  (void)::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

#else

void prepare_heap_for(std::size_t /*bytes*/) {}

#endif

}  // namespace sorvik_lib::sys
