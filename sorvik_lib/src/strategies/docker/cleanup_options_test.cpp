// The docker strategy's listing of cleanups against stand-in docker and sudo programs.
#include <gtest/gtest.h>

#include "sorvik_lib/strategies/docker/docker_strategy.hpp"
#include "support/log_capture.hpp"
#include "support/stand_in_programs.hpp"

namespace sorvik_lib::strategies::docker {
namespace {

using sorvik_test::LogCapture;
using sorvik_test::StandInPrograms;
using Calls = std::vector<std::vector<std::string>>;

const std::vector<std::string> kDf = {"docker", "system", "df", "--format", "{{json .}}"};
const std::vector<std::string> kSudoDf = {"sudo", "-n",       "docker",    "system",
                                          "df",   "--format", "{{json .}}"};
const std::vector<std::string> kDangling = {"docker",        "image",    "ls",       "-f",
                                            "dangling=true", "--format", "{{.Size}}"};
const std::vector<std::string> kSudoDangling = {
    "sudo", "-n", "docker", "image", "ls", "-f", "dangling=true", "--format", "{{.Size}}"};

constexpr std::string_view kDfOutput =
    "{\"Reclaimable\":\"1.234GB (45%)\",\"Type\":\"Images\"}\n"
    "{\"Reclaimable\":\"12.5kB (100%)\",\"Type\":\"Containers\"}\n"
    "{\"Reclaimable\":\"0B (0%)\",\"Type\":\"Local Volumes\"}\n"
    "{\"Reclaimable\":\"2.3kB\",\"Type\":\"Build Cache\"}\n";

std::vector<std::uint64_t> sizes_of(const std::vector<types::CleanupOption>& options) {
  std::vector<std::uint64_t> sizes;
  for (const auto& option : options) sizes.push_back(option.reclaimableBytes);
  return sizes;
}

using Sizes = std::vector<std::uint64_t>;

TEST(GetCleanupOptions, SizesFromUsageAndDanglingImages) {
  StandInPrograms programs;
  programs.answer(kDf, kDfOutput);
  programs.answer(kDangling, "1.2GB\n345MB\n\nN/A\n");
  LogCapture capture;
  const auto options = DockerStrategy().get_cleanup_options();
  ASSERT_TRUE(options);
  EXPECT_EQ(sizes_of(*options), (Sizes{1545000000, 2300, 12500, 1234000000, 0}));
  EXPECT_EQ((*options)[4].id, "unused_volumes");
  EXPECT_EQ(programs.calls(), (Calls{kDf, kDangling}));
  ASSERT_EQ(capture.messages().size(), 1u);
  EXPECT_EQ(capture.messages()[0],
            "Docker get_cleanup_options: dangling_size=1545000000, df_stdout="
            "\"{\\\"Reclaimable\\\":\\\"1.234GB (45%)\\\",\\\"Type\\\":\\\"Images\\\"}\\n"
            "{\\\"Reclaimable\\\":\\\"12.5kB (100%)\\\",\\\"Type\\\":\\\"Containers\\\"}\\n"
            "{\\\"Reclaimable\\\":\\\"0B (0%)\\\",\\\"Type\\\":\\\"Local Volumes\\\"}\\n"
            "{\\\"Reclaimable\\\":\\\"2.3kB\\\",\\\"Type\\\":\\\"Build Cache\\\"}\\n\"");
}

TEST(GetCleanupOptions, FailedUsageIsCommandFailedAndListsNoImages) {
  StandInPrograms programs;
  programs.answer(kDf, "", "Cannot connect to the Docker daemon\n", 1);
  programs.answer(kSudoDf, "", "sudo: a password is required\n", 1);
  programs.answer(kDangling, "1GB\n");
  LogCapture capture;
  const auto options = DockerStrategy().get_cleanup_options();
  ASSERT_FALSE(options);
  EXPECT_EQ(options.error().display_text(), "Command failed: docker system df failed");
  EXPECT_EQ(programs.calls(), (Calls{kDf, kSudoDf}));
  EXPECT_TRUE(capture.messages().empty());
}

TEST(GetCleanupOptions, UsageThroughSudoCountsTheSame) {
  StandInPrograms programs;
  programs.answer(kDf, "", "permission denied\n", 1);
  programs.answer(kSudoDf, kDfOutput);
  programs.answer(kDangling, "", "permission denied\n", 1);
  programs.answer(kSudoDangling, "1kB\n");
  const auto options = DockerStrategy().get_cleanup_options();
  ASSERT_TRUE(options);
  EXPECT_EQ(sizes_of(*options), (Sizes{1000, 2300, 12500, 1234000000, 0}));
  EXPECT_EQ(programs.calls(), (Calls{kDf, kSudoDf, kDangling, kSudoDangling}));
}

TEST(GetCleanupOptions, FailedDanglingListingCountsAsZero) {
  StandInPrograms programs;
  programs.answer(kDf, "");
  programs.answer(kDangling, "5GB\n", "", 1);
  programs.answer(kSudoDangling, "5GB\n", "", 1);
  const auto options = DockerStrategy().get_cleanup_options();
  ASSERT_TRUE(options);
  EXPECT_EQ(sizes_of(*options), (Sizes{0, 0, 0, 0, 0}));
}

TEST(GetCleanupOptions, WarningOnStandardOutputIsAParseError) {
  StandInPrograms programs;
  programs.answer(kDf, "WARNING: something\r\n" + std::string(kDfOutput));
  programs.answer(kDangling, "");
  const auto options = DockerStrategy().get_cleanup_options();
  ASSERT_FALSE(options);
  EXPECT_EQ(options.error().kind(), StrategyError::Kind::ParseError);
  EXPECT_TRUE(options.error().display_text().starts_with("Parse error: Invalid JSON line: "));
}

TEST(GetCleanupOptions, DockerMissing) {
  StandInPrograms programs;
  programs.remove("docker");
  const auto options = DockerStrategy().get_cleanup_options();
  ASSERT_FALSE(options);
  EXPECT_EQ(options.error(), StrategyError::command_failed("docker system df failed"));
  EXPECT_EQ(programs.calls(), Calls{});
}

}  // namespace
}  // namespace sorvik_lib::strategies::docker
