// UTF-8 checks for texts and paths: strict validation, and the lossy conversion that replaces
// every ill-formed sequence with U+FFFD.
#pragma once

#include <string>
#include <string_view>

namespace sorvik_lib::types {

// True when `bytes` is well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
[[nodiscard]] bool is_valid_utf8(std::string_view bytes);

// `bytes` with each maximal ill-formed subsequence replaced by one U+FFFD; valid input comes back
// unchanged.
[[nodiscard]] std::string to_utf8_lossy(std::string_view bytes);

}  // namespace sorvik_lib::types
