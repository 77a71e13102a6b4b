// Giving memory that will not be read again back to the system before it is freed.
#pragma once

namespace sorvik_lib::sys {

// Returns the whole pages inside [begin, end) to the system; what they held is lost, the range
// stays mapped and must not be read again. Partial pages at either end are left as they are.
void discard_pages(const char* begin, const char* end);

}  // namespace sorvik_lib::sys
