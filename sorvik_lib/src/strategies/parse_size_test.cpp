// The size rule on docker's size texts and on texts that are not sizes.
#include "sorvik_lib/strategies/parse_size.hpp"

#include <gtest/gtest.h>

namespace sorvik_lib::strategies {
namespace {

struct Case {
  std::string_view text;
  std::optional<std::uint64_t> bytes;
};

void expect_all(std::initializer_list<Case> cases) {
  for (const auto& c : cases) EXPECT_EQ(parse_size(c.text), c.bytes) << '"' << c.text << '"';
}

TEST(ParseSize, DockersOwnTexts) {
  expect_all({{"0B", 0},
              {"1.234GB", 1234000000},
              {"12.5kB", 12500},
              {"2 GB", 2000000000},
              {"2.3kB", 2300},
              {"512MiB", 536870912},
              {"1.5KiB", 1536},
              {"1024", 1024},
              {"56B", 56},
              {"1.982MB", 1982000}});
}

TEST(ParseSize, NotSizes) {
  expect_all({{"B", std::nullopt},
              {"", std::nullopt},
              {"N/A", std::nullopt},
              {"-1GB", std::nullopt},
              {"+1GB", std::nullopt},
              {"1.2.3", std::nullopt},
              {"1GBs", std::nullopt},
              {"1 G B", std::nullopt},
              {"1ZB", std::nullopt},
              {".", std::nullopt},
              {"e5", std::nullopt},
              {"1e+", std::nullopt},
              {"1e-", std::nullopt},
              {"0x10", std::nullopt},
              {"1\t", std::nullopt},
              {"ib", std::nullopt}});
}

TEST(ParseSize, UnitsInEitherCaseWithOptionalByteSuffix) {
  expect_all({{"1k", 1000},
              {"1K", 1000},
              {"1kb", 1000},
              {"1Ki", 1024},
              {"1ki", 1024},
              {"1kIb", 1024},
              {"3m", 3000000},
              {"1MIB", 1048576},
              {"1g", 1000000000},
              {"1t", 1000000000000},
              {"1TiB", 1099511627776},
              {"1p", 1000000000000000},
              {"1PiB", 1125899906842624},
              {"1EB", 1000000000000000000},
              {"1EiB", 1152921504606846976},
              {"7i", 7},
              {"7b", 7}});
}

TEST(ParseSize, SpacesUnderscoresFractionsAndExponents) {
  expect_all({{"1_000", 1000},
              {" 1 000 kB", 1000000},
              {"1.", 1},
              {".5", 1},
              {"1e3", 1000},
              {"1E3", 1000},
              {"1.5e+3", 1500},
              {"25e-1", 3},
              {"1.5e-3kB", 2},
              {"000012", 12},
              {"1 e 3", 1000},
              // The "e" at the end is the exa unit, not an exponent.
              {"2e", 2000000000000000000}});
}

TEST(ParseSize, HalvesRoundUpExactly) {
  expect_all({{"0.5", 1},
              {"0.49999999999999999999", 0},
              {"2.5", 3},
              {"0.0005kB", 1},
              {"0.0004999kB", 0},
              {"1.0005KiB", 1025},  // 1024.512
              {"0.5KiB", 512}});
}

TEST(ParseSize, TinyExponentsGiveZero) {
  expect_all({{"1e-38", 0},
              {"5e-1", 1},
              {"1e-39", 0},
              // Counted with the fraction digits, below -38 is zero even when large.
              {"1000000000000000000000000000000000000000e-39", 0},
              {"100000000000000000000000000000000000000e-38", 1},
              {"0e999999999999999999999", 0},
              {"1e-99999999999999999999", 0}});
}

TEST(ParseSize, SixtyFourBitLimit) {
  expect_all({{"18446744073709551615", 18446744073709551615u},
              {"18446744073709551616", std::nullopt},
              {"18446744073709551615.4", 18446744073709551615u},
              {"18446744073709551615.5", std::nullopt},
              {"18.446744073709551615EB", 18446744073709551615u},
              {"16EiB", std::nullopt},
              {"15.999999999999999999EiB", 18446744073709551615u},
              {"1e19", 10000000000000000000u},
              {"1e20", std::nullopt},
              {"1e99999999999999999999", std::nullopt},
              {"000000000000000000000000001", 1}});
}

}  // namespace
}  // namespace sorvik_lib::strategies
