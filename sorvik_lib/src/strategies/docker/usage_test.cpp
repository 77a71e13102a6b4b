// Reading the reclaimable space of `docker system df` into the five cleanup options.
#include "sorvik_lib/strategies/docker/usage.hpp"

#include <gtest/gtest.h>

#include "sorvik_lib/types/utf8.hpp"

namespace sorvik_lib::strategies::docker {
namespace {

using types::CleanupOption;
using types::RiskLevel;

// The reclaimable sizes of the five options, in their fixed order.
std::vector<std::uint64_t> sizes(std::string_view output, std::uint64_t dangling = 0) {
  const auto options = parse_system_df(output, dangling);
  EXPECT_TRUE(options.has_value()) << (options ? "" : options.error().display_text());
  std::vector<std::uint64_t> sizes;
  if (options) {
    for (const auto& option : *options) sizes.push_back(option.reclaimableBytes);
  }
  return sizes;
}

using Sizes = std::vector<std::uint64_t>;

// What docker 28 prints, line for line.
constexpr std::string_view kRealOutput =
    R"json({"Active":"1","Reclaimable":"1.234GB (45%)","Size":"2.5GB","TotalCount":"3","Type":"Images"})json"
    "\n"
    R"json({"Active":"0","Reclaimable":"1.024MB (100%)","Size":"1.024MB","TotalCount":"1","Type":"Containers"})json"
    "\n"
    R"json({"Active":"2","Reclaimable":"2.5 GB","Size":"5.12MB","TotalCount":"2","Type":"Local Volumes"})json"
    "\n"
    R"json({"Active":"0","Reclaimable":"56B","Size":"56B","TotalCount":"4","Type":"Build Cache"})json"
    "\n";

TEST(ParseSystemDf, TheFiveOptionsInTheirOrder) {
  const auto options = parse_system_df(kRealOutput, 777);
  ASSERT_TRUE(options);
  const std::vector<CleanupOption> expected = {
      {"dangling_images", "Dangling images",
       "Remove untagged images not referenced by any container", 777, RiskLevel::Low},
      {"build_cache", "Build cache", "Remove BuildKit layer cache", 56, RiskLevel::Low},
      {"stopped_containers", "Stopped containers", "Remove exited containers and their logs",
       1024000, RiskLevel::Medium},
      {"all_unused_images", "All unused images",
       "Remove all images not used by a running container", 1234000000, RiskLevel::Medium},
      {"unused_volumes", "Unused volumes",
       "Remove volumes not attached to any container (may contain data)", 2500000000,
       RiskLevel::High},
  };
  EXPECT_EQ(*options, expected);
}

TEST(ParseSystemDf, EmptyOutputStillGivesFiveOptions) {
  EXPECT_EQ(sizes("", 42), (Sizes{42, 0, 0, 0, 0}));
  EXPECT_EQ(sizes(" \r\n\n\t\n", 0), (Sizes{0, 0, 0, 0, 0}));
}

TEST(ParseSystemDf, CrlfAndSurroundingSpace) {
  EXPECT_EQ(sizes("  {\"Type\":\"Images\",\"Reclaimable\":\"1kB\"}  \r\n"
                  "\r\n"
                  "{\"Type\":\"Containers\",\"Reclaimable\":\"2kB\"}\r\n"),
            (Sizes{0, 0, 2000, 1000, 0}));
}

TEST(ParseSystemDf, LaterLineOfATypeWins) {
  EXPECT_EQ(sizes("{\"Type\":\"Images\",\"Reclaimable\":\"1kB\"}\n"
                  "{\"Type\":\"Images\",\"Reclaimable\":\"3kB\"}\n"),
            (Sizes{0, 0, 0, 3000, 0}));
  EXPECT_EQ(sizes("{\"Type\":\"Images\",\"Reclaimable\":\"1kB\"}\n"
                  "{\"Type\":\"Images\"}\n"),
            (Sizes{0, 0, 0, 0, 0}));
}

TEST(ParseSystemDf, LinesThatNameNoKnownTypeChangeNothing) {
  EXPECT_EQ(sizes("{\"Type\":\"images\",\"Reclaimable\":\"1kB\"}\n"
                  "{\"Type\":\"Build cache\",\"Reclaimable\":\"1kB\"}\n"
                  "{\"Type\":7,\"Reclaimable\":\"1kB\"}\n"
                  "{\"Reclaimable\":\"1kB\"}\n"
                  "[\"Images\",\"1kB\"]\n"
                  "42\n"
                  "\"Images\"\n"
                  "null\n"
                  "{}\n"),
            (Sizes{0, 0, 0, 0, 0}));
}

TEST(ParseSystemDf, UnreadableReclaimableIsZero) {
  EXPECT_EQ(sizes("{\"Type\":\"Images\",\"Reclaimable\":5}\n"
                  "{\"Type\":\"Containers\",\"Reclaimable\":\"N/A\"}\n"
                  "{\"Type\":\"Local Volumes\",\"Reclaimable\":\"\"}\n"
                  "{\"Type\":\"Build Cache\",\"Reclaimable\":\"(50%)\"}\n"),
            (Sizes{0, 0, 0, 0, 0}));
}

TEST(ParseSystemDf, ABrokenLineIsAParseError) {
  for (std::string_view output :
       {"WARNING: the daemon is old\n{\"Type\":\"Images\",\"Reclaimable\":\"1kB\"}\n",
        "{\"Type\":\"Images\",\"Reclaimable\":\"1kB\"} trailing\n",
        "{\"Type\":\"Images\",\"Reclaimable\":\"1kB\"}{}\n", "{\"Type\":\"Images\"\n",
        "{\"Type\":\"Images\",\"Reclaimable\":\"1kB\"}\n{\n"}) {
    const auto options = parse_system_df(output, 0);
    ASSERT_FALSE(options) << output;
    EXPECT_EQ(options.error().kind(), StrategyError::Kind::ParseError);
    EXPECT_TRUE(options.error().message().starts_with("Invalid JSON line: "))
        << options.error().message();
    EXPECT_GT(options.error().message().size(), std::string_view("Invalid JSON line: ").size());
  }
}

TEST(ParseSystemDf, TheParsersDescriptionOfBadBytesIsStillAText) {
  // The parser quotes the bytes it stopped at; ill-formed UTF-8 shows as U+FFFD.
  const auto options = parse_system_df("{\"Type\":\"Images\",\"Reclaimable\":\"1\xFFkB\"}\n", 0);
  ASSERT_FALSE(options);
  EXPECT_TRUE(types::is_valid_utf8(options.error().message())) << options.error().message();
  EXPECT_NE(options.error().message().find("\xEF\xBF\xBD"), std::string::npos);
}

TEST(ParseReclaimable, SizeBeforeTheShare) {
  EXPECT_EQ(parse_reclaimable("0B (0%)"), 0u);
  EXPECT_EQ(parse_reclaimable("1.234GB (45%)"), 1234000000u);
  EXPECT_EQ(parse_reclaimable("2.5 GB"), 2500000000u);
  EXPECT_EQ(parse_reclaimable("  12.5kB  "), 12500u);
  EXPECT_EQ(parse_reclaimable("1kB(3%) (4%)"), 1000u);
  EXPECT_EQ(parse_reclaimable(""), 0u);
  EXPECT_EQ(parse_reclaimable("(100%)"), 0u);
  EXPECT_EQ(parse_reclaimable("N/A"), 0u);
  EXPECT_EQ(parse_reclaimable("-1GB (5%)"), 0u);
}

}  // namespace
}  // namespace sorvik_lib::strategies::docker
