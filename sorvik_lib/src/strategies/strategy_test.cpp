// The strategy value types' texts and the registry.
#include "sorvik_lib/strategies/strategy.hpp"

#include <gtest/gtest.h>

#include "sorvik_lib/strategies/docker/docker_strategy.hpp"

namespace sorvik_lib::strategies {
namespace {

TEST(StrategyError, DisplayTextIsPrefixAndMessage) {
  EXPECT_EQ(StrategyError::command_failed("docker system df failed").display_text(),
            "Command failed: docker system df failed");
  EXPECT_EQ(StrategyError::parse_error("").display_text(), "Parse error: ");
  EXPECT_EQ(StrategyError::not_available("no daemon").display_text(), "Not available: no daemon");
}

TEST(ProbeResult, TextFormIsTheName) {
  EXPECT_EQ(to_string(ProbeResult::Available), "Available");
  EXPECT_EQ(to_string(ProbeResult::NeedsElevation), "NeedsElevation");
  EXPECT_EQ(to_string(ProbeResult::Unavailable), "Unavailable");
}

TEST(Registry, DockerGivesAFreshDockerStrategy) {
  auto first = get_strategy("docker");
  auto second = get_strategy("docker");
  ASSERT_NE(first, nullptr);
  EXPECT_NE(dynamic_cast<docker::DockerStrategy*>(first.get()), nullptr);
  EXPECT_NE(first.get(), second.get());
}

TEST(Registry, UnknownNamesGiveNothing) {
  for (std::string_view name : {"Docker", "DOCKER", "docker ", " docker", "dock", ""}) {
    EXPECT_EQ(get_strategy(name), nullptr) << name;
  }
}

}  // namespace
}  // namespace sorvik_lib::strategies
