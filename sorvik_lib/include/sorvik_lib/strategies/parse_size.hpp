// The one rule that turns docker's human-readable size texts ("1.234GB", "12.5kB", "512MiB",
// "0B") into byte counts.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace sorvik_lib::strategies {

// The byte count a size text states, rounded to the nearest byte with halves up; nothing for a
// text that is not a size or whose value does not fit in 64 bits.
//
// Units are decimal (k = 1000) unless the unit has an "i" (Ki = 1024); the byte suffix "B" is
// optional and letters may be of either case; spaces and "_" inside the number are ignored, and
// the number may have a fraction and an exponent, but no sign.
[[nodiscard]] std::optional<std::uint64_t> parse_size(std::string_view text);

}  // namespace sorvik_lib::strategies
