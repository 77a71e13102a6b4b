// Byte counts that stop at the largest 64-bit value instead of wrapping: a sum too large to hold
// is reported as the most there can be, never as a small number, and a difference never drops
// below zero.
#pragma once

#include <cstdint>
#include <limits>

namespace sorvik_lib::types {

inline constexpr std::uint64_t kLargestCount = std::numeric_limits<std::uint64_t>::max();

// `a + b`, or the largest 64-bit value when the sum does not fit.
[[nodiscard]] constexpr std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
  std::uint64_t sum = 0;
  return __builtin_add_overflow(a, b, &sum) ? kLargestCount : sum;
}

// `from - amount`, or 0 when `amount` is the larger.
[[nodiscard]] constexpr std::uint64_t saturating_minus(std::uint64_t from, std::uint64_t amount) {
  return from > amount ? from - amount : 0;
}

// Adds `amount` to `total` in place, stopping at the largest value.
constexpr void add_saturating(std::uint64_t& total, std::uint64_t amount) {
  total = saturating_add(total, amount);
}

}  // namespace sorvik_lib::types
