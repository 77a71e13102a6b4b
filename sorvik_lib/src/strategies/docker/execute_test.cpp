// The docker strategy's clean against stand-in docker programs: which prunes run, in what order,
// and how each outcome is reported.
#include <gtest/gtest.h>

#include <atomic>

#include "sorvik_lib/strategies/docker/docker_strategy.hpp"
#include "support/log_capture.hpp"
#include "support/stand_in_programs.hpp"

namespace sorvik_lib::strategies::docker {
namespace {

using sorvik_test::LogCapture;
using sorvik_test::StandInPrograms;
using types::CleanResult;
using Calls = std::vector<std::vector<std::string>>;
using Messages = std::vector<std::string>;

const std::vector<std::string> kDangling = {"docker", "image", "prune", "-f"};
const std::vector<std::string> kBuilder = {"docker", "builder", "prune", "-f"};
const std::vector<std::string> kContainers = {"docker", "container", "prune", "-f"};
const std::vector<std::string> kAllImages = {"docker", "image", "prune", "-a", "-f"};
const std::vector<std::string> kVolumes = {"docker", "volume", "prune", "-f"};

[[nodiscard]] std::expected<CleanResult, StrategyError> execute(std::vector<std::string> options) {
  return DockerStrategy().execute(options, nullptr);
}

TEST(Execute, RunsEachPruneInRequestOrder) {
  StandInPrograms programs;
  programs.answer(kDangling, "Deleted Images:\nx\n\nTotal reclaimed space: 1.5GB\n");
  programs.answer(kBuilder, "Total reclaimed space: 0B\n");
  programs.answer(kContainers, "Deleted Containers:\nabc\r\n\r\nTotal reclaimed space: 2.3kB\r\n");
  programs.answer(kAllImages, "Total reclaimed space: 512MiB\n");
  programs.answer(kVolumes, "Total reclaimed space: 1kB");
  const auto result = execute({"unused_volumes", "all_unused_images", "stopped_containers",
                               "build_cache", "dangling_images"});
  ASSERT_TRUE(result);
  EXPECT_EQ(programs.calls(), (Calls{kVolumes, kAllImages, kContainers, kBuilder, kDangling}));
  EXPECT_EQ(result->removed,
            (std::vector<std::string>{
                "managed://docker/unused_volumes", "managed://docker/all_unused_images",
                "managed://docker/stopped_containers", "managed://docker/build_cache",
                "managed://docker/dangling_images"}));
  EXPECT_TRUE(result->errors.empty());
  EXPECT_EQ(result->bytesFreed, 1000u + 536870912u + 2300u + 0u + 1500000000u);
}

TEST(Execute, StopBeforeTheFirstPruneRunsNoneAndCancelsEach) {
  StandInPrograms programs;
  programs.answer(kBuilder, "Total reclaimed space: 1kB\n");
  const std::atomic<bool> stop{true};
  const auto result = DockerStrategy().execute({"build_cache", "unused_volumes"}, &stop);
  ASSERT_TRUE(result);
  EXPECT_EQ(programs.calls(), Calls{});
  EXPECT_EQ(*result, (CleanResult{{},
                                  {{"managed://docker/build_cache", "Cancelled"},
                                   {"managed://docker/unused_volumes", "Cancelled"}},
                                  0}));
}

TEST(Execute, NoOptionsRunNothing) {
  StandInPrograms programs;
  LogCapture capture;
  const auto result = execute({});
  ASSERT_TRUE(result);
  EXPECT_EQ(*result, CleanResult{});
  EXPECT_EQ(programs.calls(), Calls{});
  EXPECT_EQ(capture.messages(),
            (Messages{"Docker execute: options=[]",
                      "Docker execute complete: removed=0, failed=0, bytes_freed=0"}));
}

TEST(Execute, UnknownOptionAnywhereRunsNoPrune) {
  struct Case {
    std::vector<std::string> options;
    std::string unknown;
  };
  for (const auto& c : std::vector<Case>{
           {{"build_cache", "images"}, "images"},
           {{"images", "build_cache"}, "images"},
           {{"dangling_images", "Build_Cache", "nope"}, "Build_Cache"},
           {{"build_cache "}, "build_cache "},
       }) {
    StandInPrograms programs;
    programs.answer(kBuilder, "Total reclaimed space: 1kB\n");
    programs.answer(kDangling, "Total reclaimed space: 1kB\n");
    const auto result = execute(c.options);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind(), StrategyError::Kind::CommandFailed);
    EXPECT_EQ(result.error().display_text(),
              "Command failed: Unknown cleanup option: " + c.unknown);
    EXPECT_EQ(programs.calls(), Calls{});
  }
}

TEST(Execute, FailedPruneReportsItsStandardErrorAndTheRestGoOn) {
  StandInPrograms programs;
  programs.answer(kBuilder, "ignored output Total reclaimed space: 9GB\n",
                  "Error response from daemon: a prune operation is already running\n", 1);
  programs.answer(kContainers, "Total reclaimed space: 3kB\n");
  programs.answer(kVolumes, "Total reclaimed space: 9GB\n", "", 2);
  const auto result = execute({"build_cache", "stopped_containers", "unused_volumes"});
  ASSERT_TRUE(result);
  EXPECT_EQ(result->removed, std::vector<std::string>{"managed://docker/stopped_containers"});
  EXPECT_EQ(result->errors,
            (std::vector<types::ErrorEntry>{
                {"managed://docker/build_cache",
                 "Error response from daemon: a prune operation is already running\n"},
                {"managed://docker/unused_volumes", ""}}));
  EXPECT_EQ(result->bytesFreed, 3000u);
  EXPECT_EQ(programs.calls(), (Calls{kBuilder, kContainers, kVolumes}));
}

TEST(Execute, DeathBySignalIsAFailedPrune) {
  StandInPrograms programs;
  programs.answer_with_signal(kContainers, "Total reclaimed space: 1GB\n", "half done\n", "KILL");
  LogCapture capture;
  const auto result = execute({"stopped_containers"});
  ASSERT_TRUE(result);
  EXPECT_EQ(*result, sorvik_lib::types::single_error_result("managed://docker/stopped_containers",
                                                            "half done\n"));
  EXPECT_EQ(capture.messages().at(2),
            "Docker prune [stopped_containers]: exit=signal: 9 (SIGKILL), "
            "stdout=\"Total reclaimed space: 1GB\\n\", stderr=\"half done\\n\"");
}

TEST(Execute, AnOptionGivenTwiceRunsTwice) {
  StandInPrograms programs;
  programs.answer(kBuilder, "Total reclaimed space: 1.5kB\n");
  const auto result = execute({"build_cache", "build_cache"});
  ASSERT_TRUE(result);
  EXPECT_EQ(result->removed, (std::vector<std::string>{"managed://docker/build_cache",
                                                       "managed://docker/build_cache"}));
  EXPECT_EQ(result->bytesFreed, 3000u);
  EXPECT_EQ(programs.calls(), (Calls{kBuilder, kBuilder}));
}

TEST(Execute, DockerMissingFailsTheCall) {
  StandInPrograms programs;
  programs.remove("docker");
  const auto result = execute({"dangling_images", "build_cache"});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().kind(), StrategyError::Kind::CommandFailed);
  EXPECT_EQ(result.error().display_text(),
            "Command failed: No such file or directory (os error 2)");
}

TEST(Execute, StandardErrorIsDecodedLossily) {
  StandInPrograms programs;
  programs.answer(kVolumes, "", "bad \xc3 byte\n", 1);
  const auto result = execute({"unused_volumes"});
  ASSERT_TRUE(result);
  ASSERT_EQ(result->errors.size(), 1u);
  EXPECT_EQ(result->errors[0].message, "bad \xef\xbf\xbd byte\n");
}

TEST(Execute, LogLines) {
  StandInPrograms programs;
  programs.answer(kDangling, "Deleted Images:\n\"x\"\t\\\n\nTotal reclaimed space: 1kB\n");
  programs.answer(kVolumes, "", "Error: \x1b[31mno\x1b[0m\n", 1);
  LogCapture capture;
  const auto result = execute({"dangling_images", "unused_volumes"});
  ASSERT_TRUE(result);
  EXPECT_EQ(
      capture.messages(),
      (Messages{
          R"(Docker execute: options=["dangling_images", "unused_volumes"])",
          R"(Docker prune: running ["docker", "image", "prune", "-f"])",
          R"(Docker prune [dangling_images]: exit=exit status: 0, stdout="Deleted Images:\n\"x\"\t\\\n\nTotal reclaimed space: 1kB\n", stderr="")",
          R"(Docker prune: running ["docker", "volume", "prune", "-f"])",
          R"(Docker prune [unused_volumes]: exit=exit status: 1, stdout="", stderr="Error: \u{1b}[31mno\u{1b}[0m\n")",
          "Docker execute complete: removed=1, failed=1, bytes_freed=1000",
      }));
  for (const auto& record : capture.records()) {
    EXPECT_EQ(record.level, log::Level::Info);
    EXPECT_EQ(record.target, "sorvik_lib::strategies::docker");
    EXPECT_EQ(record.file, "src/strategies/docker");
  }
}

TEST(Execute, UnknownOptionLogsOnlyTheRequest) {
  StandInPrograms programs;
  LogCapture capture;
  EXPECT_FALSE(execute({"build_cache", "images"}));
  EXPECT_EQ(capture.messages(), Messages{R"(Docker execute: options=["build_cache", "images"])"});
}

}  // namespace
}  // namespace sorvik_lib::strategies::docker
