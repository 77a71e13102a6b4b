// `sorvik docker probe|options|prune` end to end, against stand-in docker and sudo programs that
// the tool finds on its search path.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <optional>

#include "support/helper_process.hpp"
#include "support/pseudo_terminal.hpp"
#include "support/stand_in_programs.hpp"

namespace sorvik_test {
namespace {

using Calls = std::vector<std::vector<std::string>>;
using nlohmann::json;

const std::vector<std::string> kInfo = {"docker", "info", "--format", "{{json .}}"};
const std::vector<std::string> kSudoInfo = {"sudo", "-n",       "docker",
                                            "info", "--format", "{{json .}}"};
const std::vector<std::string> kDf = {"docker", "system", "df", "--format", "{{json .}}"};
const std::vector<std::string> kSudoDf = {"sudo", "-n",       "docker",    "system",
                                          "df",   "--format", "{{json .}}"};
const std::vector<std::string> kDanglingSizes = {"docker",        "image",    "ls",       "-f",
                                                 "dangling=true", "--format", "{{.Size}}"};
const std::vector<std::string> kContainers = {"docker", "container", "prune", "-f"};
const std::vector<std::string> kVolumes = {"docker", "volume", "prune", "-f"};
const std::vector<std::string> kBuilder = {"docker", "builder", "prune", "-f"};

constexpr std::string_view kDaemonInfo = R"({"ID":"abc","ServerVersion":"28.2.2"})"
                                         "\n";
constexpr std::string_view kCannotConnect =
    "Cannot connect to the Docker daemon at unix:///var/run/docker.sock. Is the docker daemon "
    "running?\n";

sorvik_lib::sys::ProcessResult docker(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "docker");
  return run(kCliPath, std::move(arguments));
}

TEST(CliDockerProbe, EachAnswerWithItsExplanationAndStatus) {
  {
    StandInPrograms programs;
    programs.answer_version();
    programs.answer(kInfo, kDaemonInfo);
    const auto run = docker({"probe"});
    EXPECT_EQ(run.output, "Available: docker and its daemon answer with your own rights\n");
    EXPECT_EQ(run.status.value, 0);
  }
  {
    StandInPrograms programs;
    programs.answer_version();
    programs.answer(kInfo, "", "permission denied while trying to connect\n", 1);
    programs.answer(kSudoInfo, kDaemonInfo);
    const auto run = docker({"probe"});
    EXPECT_EQ(run.output,
              "NeedsElevation: docker's daemon answers only through sudo -n; prune with elevated "
              "rights\n");
    EXPECT_EQ(run.status.value, 0);
  }
  {
    StandInPrograms programs;
    programs.remove("docker");
    const auto run = docker({"probe"});
    EXPECT_EQ(run.output,
              "Unavailable: the docker command is missing, or no docker daemon answers it\n");
    EXPECT_EQ(run.status.value, 1);
    EXPECT_EQ(run.error, "");
  }
}

// Started in a directory holding `docker` and `sudo`, the tool never runs them through an empty
// or relative entry of PATH, and without PATH finds neither.
TEST(CliDockerProbe, NeverFromTheWorkingDirectory) {
  StandInPrograms programs;
  programs.answer_version();
  programs.answer(kInfo, kDaemonInfo);
  programs.answer(kSudoInfo, kDaemonInfo);
  for (const std::optional<std::string>& path :
       {std::optional<std::string>(""), std::optional<std::string>("/nonexistent:"),
        std::optional<std::string>("."), std::optional<std::string>(std::nullopt)}) {
    const ScopedSearch search(path, programs.directory());
    const auto run = docker({"probe"});
    EXPECT_EQ(run.output,
              "Unavailable: the docker command is missing, or no docker daemon answers it\n")
        << "PATH " << path.value_or("unset");
    EXPECT_EQ(run.status.value, 1);
  }
  EXPECT_EQ(programs.calls(), Calls{});
}

class CliDockerOptions : public testing::Test {
 protected:
  void SetUp() override {
    programs_.answer(kDf,
                     "{\"Reclaimable\":\"1.234GB (45%)\",\"Type\":\"Images\"}\n"
                     "{\"Reclaimable\":\"12.5kB (100%)\",\"Type\":\"Containers\"}\n"
                     "{\"Reclaimable\":\"0B (0%)\",\"Type\":\"Local Volumes\"}\n"
                     "{\"Reclaimable\":\"2.3kB\",\"Type\":\"Build Cache\"}\n");
    programs_.answer(kDanglingSizes, "1.2GB\n34MB\n");
  }

  StandInPrograms programs_;
};

TEST_F(CliDockerOptions, ATableWithTheTotal) {
  const auto run = docker({"options"});
  EXPECT_EQ(run.status.value, 0);
  EXPECT_EQ(run.error, "");
  EXPECT_EQ(run.output,
            "ID                  LABEL               RISK    RECLAIMABLE  DESCRIPTION\n"
            "dangling_images     Dangling images     Low         1.234GB  Remove untagged images "
            "not referenced by any container\n"
            "build_cache         Build cache         Low           2.3kB  Remove BuildKit layer "
            "cache\n"
            "stopped_containers  Stopped containers  Medium       12.5kB  Remove exited "
            "containers and their logs\n"
            "all_unused_images   All unused images   Medium      1.234GB  Remove all images not "
            "used by a running container\n"
            "unused_volumes      Unused volumes      High             0B  Remove volumes not "
            "attached to any container (may contain data)\n"
            "Total                                               1.234GB  Every option (dangling "
            "images counted within all unused images)\n");
  EXPECT_EQ(programs_.calls(), (Calls{kDf, kDanglingSizes}));
}

TEST_F(CliDockerOptions, JsonWithTheRecordFieldNames) {
  const auto run = docker({"options", "--json"});
  EXPECT_EQ(run.status.value, 0);
  const json options = json::parse(run.output);
  ASSERT_EQ(options.size(), 5u);
  EXPECT_EQ(options[0], json::parse(R"({"id": "dangling_images", "label": "Dangling images",
      "description": "Remove untagged images not referenced by any container",
      "reclaimableBytes": 1234000000, "risk": "Low"})"));
  std::vector<std::string> risks;
  for (const auto& option : options) risks.push_back(option["risk"]);
  EXPECT_EQ(risks, (std::vector<std::string>{"Low", "Low", "Medium", "Medium", "High"}));
  EXPECT_EQ(options[2]["reclaimableBytes"], 12500);
}

TEST(CliDockerOptionsFailure, NoUsageReportIsExitOneOnStandardError) {
  StandInPrograms programs;
  programs.answer(kDf, "", kCannotConnect, 1);
  programs.answer(kSudoDf, "", "sudo: a password is required\n", 1);
  for (const auto& arguments : {std::vector<std::string>{"options"}, {"options", "--json"}}) {
    const auto run = docker(arguments);
    EXPECT_EQ(run.status.value, 1);
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(run.error, "sorvik: Command failed: docker system df failed\n");
  }
}

TEST(CliDockerPrune, PrintsWhatWasPrunedErrorsAndBytesAsResultDoes) {
  StandInPrograms programs;
  programs.answer(kContainers, "", kCannotConnect, 1);
  programs.answer(kVolumes, "Deleted Volumes:\nv1\n\nTotal reclaimed space: 5.12MB\n");
  const auto run = docker({"prune", "stopped_containers", "unused_volumes"});
  EXPECT_EQ(run.status.value, 1);
  EXPECT_EQ(run.error, "");
  EXPECT_EQ(run.output,
            "removed: 1\n  managed://docker/unused_volumes\n"
            "errors: 1\n  managed://docker/stopped_containers: Cannot connect to the Docker daemon "
            "at unix:///var/run/docker.sock. Is the docker daemon running?\n"
            "bytes freed: 5120000 (5.12MB)\n");
  EXPECT_EQ(programs.calls(), (Calls{kContainers, kVolumes}));

  const auto as_json = docker({"prune", "--json", "stopped_containers", "unused_volumes"});
  EXPECT_EQ(as_json.status.value, 1);
  EXPECT_EQ(json::parse(as_json.output), json::parse(R"({
      "removed": ["managed://docker/unused_volumes"],
      "errors": [{"path": "managed://docker/stopped_containers", "message": )" +
                                                     json(std::string(kCannotConnect)).dump() +
                                                     R"(}],
      "bytesFreed": 5120000})"));
}

TEST(CliDockerPrune, AllPrunedIsExitZeroAndVerboseLogsOnStandardError) {
  StandInPrograms programs;
  programs.answer(kBuilder, "Total reclaimed space: 1.5GB\n");
  const auto run = docker({"prune", "-v", "build_cache", "build_cache"});
  EXPECT_EQ(run.status.value, 0);
  EXPECT_EQ(run.output,
            "removed: 2\n  managed://docker/build_cache\n  managed://docker/build_cache\n"
            "errors: 0\nbytes freed: 3000000000 (3GB)\n");
  EXPECT_NE(run.error.find("sorvik: [sorvik_lib::strategies::docker] Docker prune: running "
                           "[\"docker\", \"builder\", \"prune\", \"-f\"]\n"),
            std::string::npos)
      << run.error;
  EXPECT_EQ(docker({"prune", "build_cache"}).error, "");
}

TEST(CliDockerPrune, DockerMissingIsReportedAsTheHelperWould) {
  StandInPrograms programs;
  programs.remove("docker");
  const auto run = docker({"prune", "dangling_images"});
  EXPECT_EQ(run.status.value, 1);
  EXPECT_EQ(run.output,
            "removed: 0\nerrors: 1\n  managed://docker: Command failed: No such file or directory "
            "(os error 2)\nbytes freed: 0 (0B)\n");
}

TEST(CliDockerPrune, AnUnknownOptionIsBadUsageAndRunsNothing) {
  StandInPrograms programs;
  programs.answer(kBuilder, "Total reclaimed space: 1kB\n");
  for (const auto& arguments : std::vector<std::vector<std::string>>{
           {"prune", "build_cache", "images"}, {"prune", "Build_Cache"}, {"prune"}, {}}) {
    const auto run = docker(arguments);
    EXPECT_EQ(run.status.value, 2);
    EXPECT_EQ(run.output, "");
    EXPECT_TRUE(run.error.starts_with("sorvik: ")) << run.error;
  }
  EXPECT_NE(docker({"prune", "images"}).error.find("unknown cleanup option \"images\""),
            std::string::npos);
  EXPECT_EQ(programs.calls(), Calls{});
}

// A person at a terminal is asked first; only "y" or "yes" prunes.
TerminalRun prune_on_a_terminal(std::vector<std::string> arguments, std::string typed) {
  arguments.insert(arguments.begin(), {"docker", "prune"});
  TerminalOptions options;
  options.input_from_terminal = true;
  options.typed = std::move(typed);
  // A tool still waiting for an answer after this long would hang the suite.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  options.watch = [deadline](pid_t child, const std::string&) {
    if (std::chrono::steady_clock::now() > deadline) ::kill(child, SIGKILL);
  };
  return run_on_terminal(kCliPath, arguments, options);
}

TEST(CliDockerPruneOnATerminal, AnythingButYesPrunesNothing) {
  for (const std::string typed : {"n\n", "\n", "yep\n", " No \n"}) {
    StandInPrograms programs;
    programs.answer(kContainers, "Total reclaimed space: 1kB\n");
    const auto run = prune_on_a_terminal({"stopped_containers"}, typed);
    EXPECT_EQ(run.status.value, 1) << typed;
    EXPECT_EQ(run.output, "Prune stopped_containers with docker? This cannot be undone. [y/N] ");
    EXPECT_EQ(run.error, "sorvik: not confirmed; nothing was pruned\n");
    EXPECT_EQ(programs.calls(), Calls{}) << typed;
  }
}

TEST(CliDockerPruneOnATerminal, YesOrTheFlagPrunes) {
  StandInPrograms programs;
  programs.answer(kContainers, "Total reclaimed space: 1kB\n");
  programs.answer(kBuilder, "Total reclaimed space: 2kB\n");
  const auto asked = prune_on_a_terminal({"stopped_containers", "build_cache"}, "YES\n");
  EXPECT_EQ(asked.status.value, 0);
  EXPECT_TRUE(asked.output.starts_with(
      "Prune stopped_containers, build_cache with docker? This cannot be undone. [y/N] removed: 2"))
      << asked.output;
  EXPECT_EQ(programs.calls(), (Calls{kContainers, kBuilder}));

  const auto flagged = prune_on_a_terminal({"--yes", "build_cache"}, "");
  EXPECT_EQ(flagged.status.value, 0);
  EXPECT_TRUE(flagged.output.starts_with("removed: 1\n")) << flagged.output;
  EXPECT_EQ(programs.calls(), (Calls{kContainers, kBuilder, kBuilder}));
}

}  // namespace
}  // namespace sorvik_test
