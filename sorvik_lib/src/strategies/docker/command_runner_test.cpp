// Running docker with the sudo -n retry, and reading whether its daemon answers.
#include "sorvik_lib/strategies/docker/command_runner.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "support/stand_in_programs.hpp"

namespace sorvik_lib::strategies::docker {
namespace {

using sorvik_test::StandInPrograms;
using Calls = std::vector<std::vector<std::string>>;

const std::vector<std::string> kInfo = {"info", "--format", "{{json .}}"};

TEST(IsDaemonRunningFromOutput, DecisionTable) {
  EXPECT_TRUE(is_daemon_running_from_output(R"({"ServerVersion":"28.2.2"})"));
  EXPECT_TRUE(is_daemon_running_from_output(" \n"));  // nothing is trimmed
  EXPECT_FALSE(is_daemon_running_from_output(""));
  EXPECT_FALSE(is_daemon_running_from_output(R"({"ServerErrors":["x"]})"));
  EXPECT_FALSE(is_daemon_running_from_output(R"({"Name":"xServerErrorsx"})"));
  EXPECT_FALSE(is_daemon_running_from_output("error: Cannot connect to the Docker daemon"));
  EXPECT_TRUE(is_daemon_running_from_output("cannot connect"));
  EXPECT_TRUE(is_daemon_running_from_output("servererrors"));
}

TEST(RunDockerCommand, DirectSuccessNeedsNoSudo) {
  StandInPrograms programs;
  programs.answer({"docker", "info", "--format", "{{json .}}"}, "{\"ID\":\"x\"}\n", "noise", 0);
  EXPECT_EQ(run_docker_command(kInfo), (DockerOutput{"{\"ID\":\"x\"}\n", false}));
  EXPECT_EQ(programs.calls(), (Calls{{"docker", "info", "--format", "{{json .}}"}}));
}

TEST(RunDockerCommand, FailureIsRetriedOnceThroughSudo) {
  StandInPrograms programs;
  programs.answer({"docker", "info", "--format", "{{json .}}"}, "partial", "permission denied", 1);
  programs.answer({"sudo", "-n", "docker", "info", "--format", "{{json .}}"}, "as root", "", 0);
  EXPECT_EQ(run_docker_command(kInfo), (DockerOutput{"as root", true}));
  EXPECT_EQ(programs.calls(), (Calls{{"docker", "info", "--format", "{{json .}}"},
                                     {"sudo", "-n", "docker", "info", "--format", "{{json .}}"}}));
}

TEST(RunDockerCommand, FailedRetryIsAbsent) {
  StandInPrograms programs;
  programs.answer({"docker", "system", "df"}, "", "denied", 1);
  programs.answer({"sudo", "-n", "docker", "system", "df"}, "out", "sudo: a password is required\n",
                  1);
  EXPECT_EQ(run_docker_command(std::vector<std::string>{"system", "df"}), std::nullopt);
  EXPECT_EQ(programs.calls().size(), 2u);
}

TEST(RunDockerCommand, DeathBySignalCountsAsFailure) {
  StandInPrograms programs;
  programs.answer_with_signal({"docker", "info", "--format", "{{json .}}"}, "x", "", "KILL");
  programs.answer_with_signal({"sudo", "-n", "docker", "info", "--format", "{{json .}}"}, "y", "",
                              "TERM");
  EXPECT_EQ(run_docker_command(kInfo), std::nullopt);
  EXPECT_EQ(programs.calls().size(), 2u);
}

TEST(RunDockerCommand, SudoMissingIsAbsent) {
  StandInPrograms programs;
  programs.answer({"docker", "info", "--format", "{{json .}}"}, "", "", 1);
  programs.remove("sudo");
  EXPECT_EQ(run_docker_command(kInfo), std::nullopt);
}

TEST(RunDockerCommand, DockerMissingIsAbsentWithoutTryingSudo) {
  StandInPrograms programs;
  programs.remove("docker");
  programs.answer({"sudo", "-n", "docker", "info", "--format", "{{json .}}"}, "as root", "", 0);
  EXPECT_EQ(run_docker_command(kInfo), std::nullopt);
  EXPECT_EQ(programs.calls(), Calls{});
}

TEST(RunDockerCommand, OutputIsDecodedLossily) {
  StandInPrograms programs;
  programs.answer({"docker", "info", "--format", "{{json .}}"},
                  "a\xff\xfe"
                  "b\xe2\x82",
                  "", 0);
  EXPECT_EQ(run_docker_command(kInfo), (DockerOutput{"a\xef\xbf\xbd\xef\xbf\xbd"
                                                     "b\xef\xbf\xbd",
                                                     false}));
}

TEST(RunDockerCommand, StandardInputIsTheNullDevice) {
  StandInPrograms programs;
  // A stand-in that reads its input: it must see end of input at once, not the test's stdin.
  std::filesystem::remove(programs.directory() / "docker");
  {
    std::ofstream script(programs.directory() / "docker");
    script << "#!/bin/sh\nIFS= read -r line; printf 'read:%s:%s' \"$?\" \"$line\"\n";
  }
  std::filesystem::permissions(programs.directory() / "docker", std::filesystem::perms::owner_all);
  EXPECT_EQ(run_docker_command(kInfo), (DockerOutput{"read:1:", false}));
}

}  // namespace
}  // namespace sorvik_lib::strategies::docker
