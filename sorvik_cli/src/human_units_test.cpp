// Byte counts in docker's decimal units and counts grouped by thousands.
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

TEST(HumanUnits, CountsGroupedByThousands) {
  EXPECT_EQ(format_count(0), "0");
  EXPECT_EQ(format_count(999), "999");
  EXPECT_EQ(format_count(1000), "1,000");
  EXPECT_EQ(format_count(120'000), "120,000");
  EXPECT_EQ(format_count(1'234'567), "1,234,567");
  EXPECT_EQ(format_count(~0ULL), "18,446,744,073,709,551,615");
}

}  // namespace
}  // namespace sorvik_cli
