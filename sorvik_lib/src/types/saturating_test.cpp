// Byte counts stop at the largest 64-bit value and never drop below zero.
#include "sorvik_lib/types/saturating.hpp"

#include <gtest/gtest.h>

namespace sorvik_lib::types {
namespace {

TEST(Saturating, SumsStopAtTheLargestValue) {
  constexpr std::uint64_t kHalf = std::uint64_t{1} << 63;
  EXPECT_EQ(saturating_add(1, 2), 3u);
  EXPECT_EQ(saturating_add(kLargestCount - 1, 1), kLargestCount);
  EXPECT_EQ(saturating_add(kLargestCount, 1), kLargestCount);
  EXPECT_EQ(saturating_add(kHalf, kHalf), kLargestCount);
  // Three sparse files of 2^63-1, 2^63-1 and 2 bytes: once full, the total stays full.
  std::uint64_t total = 0;
  for (const std::uint64_t size : {kHalf - 1, kHalf - 1, std::uint64_t{2}}) {
    add_saturating(total, size);
  }
  EXPECT_EQ(total, kLargestCount);
  add_saturating(total, 0);
  EXPECT_EQ(total, kLargestCount);
}

TEST(Saturating, DifferencesStopAtZero) {
  EXPECT_EQ(saturating_minus(5, 3), 2u);
  EXPECT_EQ(saturating_minus(3, 5), 0u);
  EXPECT_EQ(saturating_minus(kLargestCount, kLargestCount), 0u);
}

}  // namespace
}  // namespace sorvik_lib::types
