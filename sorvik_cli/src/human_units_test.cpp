#include "human_units.hpp"

#include <gtest/gtest.h>

namespace sorvik_cli {
namespace {

TEST(HumanUnits, DecimalWithFourSignificantDigits) {
  EXPECT_EQ(format_human_size(0), "0B");
  EXPECT_EQ(format_human_size(999), "999B");
  EXPECT_EQ(format_human_size(1000), "1kB");
  EXPECT_EQ(format_human_size(3'146'000), "3.146MB");
  EXPECT_EQ(format_human_size(1'234'567), "1.235MB");
  EXPECT_EQ(format_human_size(1'230'000'000), "1.23GB");
  EXPECT_EQ(format_human_size(~0ULL), "18.45EB");
}

}  // namespace
}  // namespace sorvik_cli
