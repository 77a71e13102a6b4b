#include "sorvik_lib/sys/process.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <vector>

namespace sorvik_lib::sys {
namespace {

std::vector<std::string> shell(std::string script) { return {"/bin/sh", "-c", std::move(script)}; }

// Pipes this test process passes to every child (the test runner's own, say): descriptors above 2
// without FD_CLOEXEC that are pipes.
std::size_t inheritable_pipes() {
  std::size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    const int fd = std::stoi(entry.path().filename());
    if (fd <= 2) continue;  // the child gets its own standard streams
    std::error_code error;
    const auto target = std::filesystem::read_symlink(entry.path(), error);
    const int flags = ::fcntl(fd, F_GETFD);
    if (!error && flags != -1 && !(flags & FD_CLOEXEC) && target.string().starts_with("pipe:")) {
      ++count;
    }
  }
  return count;
}

ProcessOptions feeding(std::string_view input) {
  ProcessOptions options;
  options.input_mode = InputMode::Bytes;
  options.input = input;
  return options;
}

TEST(RunProcess, CapturesBothStreamsAndExitCode) {
  const auto result = run_process(shell("printf out; printf err >&2; exit 3"));
  ASSERT_TRUE(result);
  EXPECT_EQ(result->output, "out");
  EXPECT_EQ(result->error, "err");
  EXPECT_EQ(result->status, (ExitStatus{ExitStatus::Kind::Exited, 3, false}));
  EXPECT_EQ(result->status.to_string(), "exit status: 3");
}

TEST(RunProcess, ArgumentsArePassedOneByOneWithoutAShell) {
  const std::vector<std::string> arguments = {"printf", "%s|", "{{json .}}", "a b", "$HOME", ""};
  const auto result = run_process(arguments);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->output, "{{json .}}|a b|$HOME||");
}

TEST(RunProcess, DrainsMegabytesOnBothPipesAtOnce) {
  // Each stream gets 8 MiB, far beyond a pipe's buffer, interleaved so that a runner reading one
  // pipe at a time would deadlock.
  const auto result = run_process(
      shell("i=0; while [ $i -lt 8 ]; do head -c 1048576 /dev/zero; head -c 1048576 /dev/zero >&2; "
            "i=$((i+1)); done"));
  ASSERT_TRUE(result);
  EXPECT_EQ(result->output.size(), 8u << 20);
  EXPECT_EQ(result->error.size(), 8u << 20);
  EXPECT_TRUE(result->status.success());
}

TEST(RunProcess, FeedsInputBytesAndDefaultsToTheNullDevice) {
  std::signal(SIGPIPE, SIG_IGN);
  const std::string input(3 << 20, 'x');
  const auto fed = run_process(shell("wc -c"), feeding(input));
  ASSERT_TRUE(fed);
  EXPECT_EQ(std::stoul(fed->output), input.size());

  const auto null_input = run_process(shell("wc -c"));
  ASSERT_TRUE(null_input);
  EXPECT_EQ(std::stoul(null_input->output), 0u);

  // A child that reads nothing of a large input is not an error.
  const auto ignored = run_process(shell("exit 0"), feeding(input));
  ASSERT_TRUE(ignored);
  EXPECT_TRUE(ignored->status.success());
}

TEST(RunProcess, ClosedAndNullStreams) {
  ProcessOptions closed_error;
  closed_error.error_mode = OutputMode::Closed;
  const auto closed = run_process(shell("echo x >&2 || exit 7; exit 0"), closed_error);
  ASSERT_TRUE(closed);
  EXPECT_EQ(closed->status.value, 7);
  ProcessOptions null_outputs;
  null_outputs.output_mode = OutputMode::Null;
  null_outputs.error_mode = OutputMode::Null;
  const auto nulled = run_process(shell("echo x; echo y >&2"), null_outputs);
  ASSERT_TRUE(nulled);
  EXPECT_EQ(nulled->output, "");
  EXPECT_EQ(nulled->error, "");
}

TEST(RunProcess, ReportsDeathBySignal) {
  const auto result = run_process(shell("kill -KILL $$"));
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status.kind, ExitStatus::Kind::Signaled);
  EXPECT_EQ(result->status.value, SIGKILL);
  EXPECT_FALSE(result->status.success());
  EXPECT_EQ(result->status.to_string(), "signal: 9 (SIGKILL)");
}

TEST(RunProcess, MissingProgramGivesTheSystemError) {
  const auto result = run_process(std::vector<std::string>{"sorvik-no-such-program-anywhere"});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().message(), "No such file or directory (os error 2)");
}

TEST(RunProcess, ChildHoldsOnlyItsOwnPipesAndDefaultSigpipe) {
  std::signal(SIGPIPE, SIG_IGN);
  // The child lists its own descriptors: its standard output and error are the two pipes; a
  // leaked parent end would be a third.
  const auto listing = run_process(std::vector<std::string>{"ls", "-l", "/proc/self/fd"});
  ASSERT_TRUE(listing);
  std::size_t pipes = 0;
  for (auto at = listing->output.find("pipe:["); at != std::string::npos;
       at = listing->output.find("pipe:[", at + 1)) {
    ++pipes;
  }
  EXPECT_EQ(pipes, 2 + inheritable_pipes()) << listing->output;

  const auto status =
      run_process(std::vector<std::string>{"grep", "^SigIgn:", "/proc/self/status"});
  ASSERT_TRUE(status);
  const auto ignored_mask =
      std::stoull(status->output.substr(status->output.find('\t') + 1), nullptr, 16);
  EXPECT_EQ(ignored_mask & (1ULL << (SIGPIPE - 1)), 0u) << status->output;
}

}  // namespace
}  // namespace sorvik_lib::sys
