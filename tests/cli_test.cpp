// The `sorvik` companion tool end to end.
#include <gtest/gtest.h>

#include <filesystem>

#include "sorvik_lib/types/wire.hpp"
#include "support/helper_process.hpp"

namespace sorvik_test {
namespace {

using sorvik_lib::types::CleanResult;
using sorvik_lib::types::ElevatedCleanRequest;
using sorvik_lib::types::ManagedCleanRequest;
using sorvik_lib::types::SidecarRequest;

sorvik_lib::sys::ProcessResult run_cli(std::vector<std::string> arguments,
                                       std::string_view input = {}) {
  return run(kCliPath, std::move(arguments), input);
}

void expect_usage_error(const sorvik_lib::sys::ProcessResult& run, std::string_view mentions) {
  EXPECT_EQ(run.status.value, 2);
  EXPECT_EQ(run.output, "");
  EXPECT_NE(run.error.find(mentions), std::string::npos) << run.error;
}

TEST(Cli, VersionFromTheBuild) {
  const auto run = run_cli({"--version"});
  EXPECT_EQ(run.status.value, 0);
  EXPECT_EQ(run.output, "sorvik 0.1.0\n");
  EXPECT_EQ(run.error, "");
}

TEST(Cli, LostOutputIsExitOneForEverySubcommand) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full to make writes fail";
  const TempDir dir;
  write_file(dir / "result.bin",
             sorvik_lib::types::encode_result(CleanResult{{"/tmp/a"}, {}, 1}).value());
  for (const std::string& command : std::vector<std::string>{
           "--version", "result " + (dir / "result.bin").string(), "request clean /opt/cache"}) {
    const auto run =
        ::sorvik_test::run("/bin/sh", {"-c", "exec \"$0\" " + command + " >/dev/full", kCliPath});
    EXPECT_EQ(run.status.value, 1) << command;
    EXPECT_EQ(run.error,
              "sorvik: cannot write to standard output: No space left on device (os error 28)\n")
        << command;
  }
}

TEST(CliRequest, CleanWritesTheEncodedRequest) {
  const auto run =
      run_cli({"request", "clean", "/opt/cache", "/srv/x", "--keep", "/srv/x", "--keep", "/y"});
  EXPECT_EQ(run.status.value, 0);
  EXPECT_EQ(sorvik_lib::types::decode_request(run.output).value(),
            SidecarRequest(std::in_place_index<0>,
                           ElevatedCleanRequest{{"/opt/cache", "/srv/x"}, {"/srv/x", "/y"}}));
}

TEST(CliRequest, DockerWritesTheWorkedExampleToAFile) {
  TempDir dir;
  const auto file = dir / "request.bin";
  const auto run = run_cli({"request", "docker", "build_cache", "-o", file});
  EXPECT_EQ(run.status.value, 0);
  EXPECT_EQ(run.output, "");
  const std::string bytes = read_file(file);
  EXPECT_EQ(bytes.size(), 45u);
  EXPECT_EQ(sorvik_lib::types::decode_request(bytes).value(),
            SidecarRequest(std::in_place_index<1>, ManagedCleanRequest{"docker", {"build_cache"}}));
}

TEST(CliResult, ReadableAndJsonFromStdinAndFile) {
  const CleanResult result{{"/tmp/a"}, {{"/tmp/b", "Permission denied (os error 13)"}}, 3'146'000};
  const std::string encoded = sorvik_lib::types::encode_result(result).value();
  const auto readable = run_cli({"result"}, encoded);
  EXPECT_EQ(readable.status.value, 0);
  EXPECT_EQ(readable.output,
            "removed: 1\n  /tmp/a\nerrors: 1\n  /tmp/b: Permission denied (os error 13)\n"
            "bytes freed: 3146000 (3.146MB)\n");

  TempDir dir;
  write_file(dir / "result.bin", encoded);
  const auto json = run_cli({"result", "--json", dir / "result.bin"});
  EXPECT_EQ(json.status.value, 0);
  EXPECT_NE(json.output.find("\"bytesFreed\": 3146000"), std::string::npos) << json.output;
  EXPECT_NE(json.output.find("\"message\": \"Permission denied (os error 13)\""),
            std::string::npos);
}

TEST(CliResult, BadInputIsExitTwoWithAMessage) {
  expect_usage_error(run_cli({"result"}, ""), "empty");
  expect_usage_error(run_cli({"result"}, "\x01\x00"), "not an encoded result");
  expect_usage_error(run_cli({"result"}, std::string(24, '\0') + "x"), "1 unexpected bytes");
  expect_usage_error(run_cli({"result", "/nonexistent/sorvik/result.bin"}),
                     "No such file or directory (os error 2)");
}

TEST(CliUsage, MistakesAreExitTwoAndHelpIsExitZero) {
  expect_usage_error(run_cli({}), "sorvik");
  expect_usage_error(run_cli({"request", "clean"}), "paths");
  expect_usage_error(run_cli({"frobnicate"}), "sorvik:");
  const auto help = run_cli({"--help"});
  EXPECT_EQ(help.status.value, 0);
  EXPECT_NE(help.output.find("request"), std::string::npos);
  EXPECT_NE(help.output.find("result"), std::string::npos);
}

TEST(CliPipeline, RequestThroughTheHelperAndBack) {
  TempDir dir;
  const auto file = dir / "old.log";
  write_file(file, std::string(1234, 'x'));
  const auto request = run_cli({"request", "clean", file});
  ASSERT_EQ(request.status.value, 0);
  const auto helper = run_helper(request.output);
  const auto shown = run_cli({"result", "--json"}, helper.output);
  EXPECT_EQ(shown.status.value, 0);
  EXPECT_NE(shown.output.find("\"removed\""), std::string::npos) << shown.output;
}

}  // namespace
}  // namespace sorvik_test
