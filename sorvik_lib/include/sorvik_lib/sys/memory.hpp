// Memory pages: giving back what will not be read again, readying the heap for a large decode.
#pragma once

#include <cstddef>

namespace sorvik_lib::sys {

// Returns the whole pages inside [begin, end) to the system; what they held is lost, the range
// stays mapped and must not be read again. Partial pages at either end are left as they are.
void discard_pages(const char* begin, const char* end);

// Readies the heap for about `bytes` of small allocations about to be made in a row (a large
// request being decoded). Where the C library and the system allow it, the heap is grown once
// and backed by huge pages, so filling it costs a page fault per 2 MiB instead of per 4 KiB;
// elsewhere, and for small amounts, it does nothing. Memory is only reserved, not touched.
void prepare_heap_for(std::size_t bytes);

}  // namespace sorvik_lib::sys
