// The probe's decision table, row by row, against stand-in docker and sudo programs.
#include <gtest/gtest.h>

#include <fstream>

#include "sorvik_lib/strategies/docker/docker_strategy.hpp"
#include "support/log_capture.hpp"
#include "support/stand_in_programs.hpp"

namespace sorvik_lib::strategies::docker {
namespace {

using sorvik_test::LogCapture;
using sorvik_test::StandInPrograms;
using Calls = std::vector<std::vector<std::string>>;
using Messages = std::vector<std::string>;

const std::vector<std::string> kVersion = {"docker", "--version"};
const std::vector<std::string> kInfo = {"docker", "info", "--format", "{{json .}}"};
const std::vector<std::string> kSudoInfo = {"sudo", "-n",       "docker",
                                            "info", "--format", "{{json .}}"};
constexpr std::string_view kDaemonInfo = R"({"ID":"abc","ServerVersion":"28.2.2"})"
                                         "\n";

struct ProbeRun {
  ProbeResult answer;
  Messages log;
};

ProbeRun probe_with_log() {
  LogCapture capture;
  const ProbeResult answer = DockerStrategy().probe();
  for (const auto& record : capture.records()) {
    EXPECT_EQ(record.target, "sorvik_lib::strategies::docker");
    EXPECT_EQ(record.file, "src/strategies/docker");
  }
  return {answer, capture.messages()};
}

TEST(Probe, VersionCheckFailsSoNothingElseRuns) {
  StandInPrograms programs;
  programs.answer(kVersion, "", "broken", 1);
  const auto run = probe_with_log();
  EXPECT_EQ(run.answer, ProbeResult::Unavailable);
  EXPECT_EQ(run.log, Messages{"Docker probe: CLI not available"});
  EXPECT_EQ(programs.calls(), Calls{kVersion});
}

TEST(Probe, NoDockerOnThePath) {
  StandInPrograms programs;
  programs.remove("docker");
  programs.answer(kSudoInfo, kDaemonInfo);
  const auto run = probe_with_log();
  EXPECT_EQ(run.answer, ProbeResult::Unavailable);
  EXPECT_EQ(run.log, Messages{"Docker probe: CLI not available"});
  EXPECT_EQ(programs.calls(), Calls{});
}

TEST(Probe, InfoCannotStart) {
  StandInPrograms programs;
  // A docker that answers its version check and then disappears.
  std::filesystem::remove(programs.directory() / "docker");
  {
    std::ofstream script(programs.directory() / "docker");
    script << "#!/bin/sh\n/bin/rm -f \"$0\"\nexit 0\n";
  }
  std::filesystem::permissions(programs.directory() / "docker", std::filesystem::perms::owner_all);
  programs.answer(kSudoInfo, kDaemonInfo);
  const auto run = probe_with_log();
  EXPECT_EQ(run.answer, ProbeResult::Unavailable);
  EXPECT_EQ(run.log, Messages{"Docker probe: Unavailable"});
  EXPECT_EQ(programs.calls(), Calls{});  // sudo was not tried
}

TEST(Probe, DaemonAnswersDirectly) {
  StandInPrograms programs;
  programs.answer_version();
  programs.answer(kInfo, kDaemonInfo);
  const auto run = probe_with_log();
  EXPECT_EQ(run.answer, ProbeResult::Available);
  EXPECT_EQ(run.log, Messages{"Docker probe: Available"});
  EXPECT_EQ(programs.calls(), (Calls{kVersion, kInfo}));
}

TEST(Probe, InfoSucceedsButShowsNoDaemon) {
  for (std::string_view output :
       {std::string_view(""), std::string_view(R"({"ServerErrors":["boom"]})"),
        std::string_view(R"({"Warnings":["Cannot connect to the Docker daemon at x"]})")}) {
    StandInPrograms programs;
    programs.answer_version();
    programs.answer(kInfo, output);
    const auto run = probe_with_log();
    EXPECT_EQ(run.answer, ProbeResult::Unavailable) << output;
    EXPECT_EQ(run.log, Messages{"Docker probe: Unavailable"});
    EXPECT_EQ(programs.calls(), (Calls{kVersion, kInfo}));
  }
}

TEST(Probe, WhiteSpaceOnlyInfoCountsAsADaemon) {
  StandInPrograms programs;
  programs.answer_version();
  programs.answer(kInfo, " \n");
  EXPECT_EQ(probe_with_log().answer, ProbeResult::Available);
}

TEST(Probe, InfoFailsAndSudoFails) {
  StandInPrograms programs;
  programs.answer_version();
  programs.answer(kInfo, "", "permission denied while trying to connect", 1);
  programs.answer(kSudoInfo, "", "sudo: a password is required\n", 1);
  const auto run = probe_with_log();
  EXPECT_EQ(run.answer, ProbeResult::Unavailable);
  EXPECT_EQ(run.log, Messages{"Docker probe: Unavailable"});
  EXPECT_EQ(programs.calls(), (Calls{kVersion, kInfo, kSudoInfo}));
}

TEST(Probe, OnlySudoReachesTheDaemon) {
  StandInPrograms programs;
  programs.answer_version();
  programs.answer(kInfo, "", "permission denied", 1);
  programs.answer(kSudoInfo, kDaemonInfo);
  const auto run = probe_with_log();
  EXPECT_EQ(run.answer, ProbeResult::NeedsElevation);
  EXPECT_EQ(run.log, Messages{"Docker probe: NeedsElevation"});
  EXPECT_EQ(programs.calls(), (Calls{kVersion, kInfo, kSudoInfo}));
}

TEST(Probe, SudoReachesNoDaemon) {
  StandInPrograms programs;
  programs.answer_version();
  programs.answer(kInfo, "", "permission denied", 1);
  programs.answer(kSudoInfo, R"({"ServerErrors":["Cannot connect"]})");
  const auto run = probe_with_log();
  EXPECT_EQ(run.answer, ProbeResult::Unavailable);
  EXPECT_EQ(run.log, Messages{"Docker probe: Unavailable"});
}

}  // namespace
}  // namespace sorvik_lib::strategies::docker
