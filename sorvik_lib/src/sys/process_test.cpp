// The child-process runner with real children: streams, arguments, signals and which
// descriptors a child holds.
#include "sorvik_lib/sys/process.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "sorvik_lib/platform.hpp"
#include "sorvik_lib/sys/unique_fd.hpp"

namespace sorvik_lib::sys {
namespace {

std::vector<std::string> shell(std::string script) { return {"/bin/sh", "-c", std::move(script)}; }

// Pipes this test process passes to every child (the test runner's own, say): descriptors above 2
// without FD_CLOEXEC that are pipes.
std::size_t inheritable_pipes() {
  std::size_t count = 0;
  for (int fd = 3; fd < 1024; ++fd) {
    const int flags = ::fcntl(fd, F_GETFD);
    struct stat status {};
    if (flags != -1 && !(flags & FD_CLOEXEC) && ::fstat(fd, &status) == 0 &&
        S_ISFIFO(status.st_mode)) {
      ++count;
    }
  }
  return count;
}

// A child that counts the pipes among its own descriptors, through /dev/fd as Linux and macOS
// both offer it.
const std::vector<std::string> kCountOwnPipes =
    shell("n=0; for f in /dev/fd/*; do [ -p \"$f\" ] && n=$((n+1)); done; echo $n");

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

// Sets `cancel` from another thread once the child has written something into `marker`.
class CancelWhenMarked {
 public:
  CancelWhenMarked(std::string marker, std::atomic<bool>& cancel)
      : thread_([marker = std::move(marker), &cancel] {
          for (int i = 0; i < 2000; ++i) {
            struct stat status {};
            if (::stat(marker.c_str(), &status) == 0 && status.st_size > 0) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
          }
          cancel = true;
        }) {}
  ~CancelWhenMarked() { thread_.join(); }

 private:
  std::thread thread_;
};

// A file name in a fresh temporary directory, both removed at the end.
class Marker {
 public:
  Marker() {
    std::string pattern = "/tmp/sorvik-process-test-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) directory_ = pattern;
  }
  ~Marker() {
    ::unlink(path().c_str());
    ::rmdir(directory_.c_str());
  }
  [[nodiscard]] std::string path() const { return directory_ + "/marker"; }

 private:
  std::string directory_;
};

// Runs the shell `script`, with `marker` as its $0, and cancels the run once the script has
// written into the marker.
std::expected<ProcessResult, SystemError> run_cancelled_when_marked(const std::string& script,
                                                                    const std::string& marker) {
  std::atomic<bool> cancel{false};
  ProcessOptions options;
  options.cancel = &cancel;
  const CancelWhenMarked canceller(marker, cancel);
  auto command = shell(script);
  command.push_back(marker);
  return run_process(command, options);
}

TEST(RunProcess, CancelSendsSigtermKeepsDrainingAndWaits) {
  const Marker marked;
  const auto result = run_cancelled_when_marked(
      "trap 'kill $s; echo stopping; echo bye >&2; exit 7' TERM; echo started; "
      "/bin/sleep 30 < /dev/null > /dev/null 2>&1 & s=$!; echo x > \"$0\"; wait $s",
      marked.path());
  ASSERT_TRUE(result);
  EXPECT_TRUE(result->cancelled);
  EXPECT_EQ(result->status, (ExitStatus{ExitStatus::Kind::Exited, 7}));
  EXPECT_EQ(result->output, "started\nstopping\n");
  EXPECT_EQ(result->error, "bye\n");
}

TEST(RunProcess, CancelledChildIsNotHeldUpByItsOwnChildrensPipes) {
  const Marker marked;
  // The sleep holds both output pipes open and is not asked to stop.
  const auto result =
      run_cancelled_when_marked("/bin/sleep 30 & echo $! > \"$0\"; wait", marked.path());
  std::ifstream pid_file(marked.path());
  pid_t sleeper = 0;
  pid_file >> sleeper;
  ASSERT_GT(sleeper, 0);
  const bool sleeper_still_ran = ::kill(sleeper, SIGKILL) == 0;
  ASSERT_TRUE(result);
  EXPECT_TRUE(result->cancelled);
  EXPECT_EQ(result->status, (ExitStatus{ExitStatus::Kind::Signaled, SIGTERM}));
  EXPECT_TRUE(sleeper_still_ran) << "the run waited for the grandchild";
}

TEST(RunProcess, MissingProgramGivesTheSystemError) {
  const auto result = run_process(std::vector<std::string>{"sorvik-no-such-program-anywhere"});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().message(), "No such file or directory (os error 2)");
}

TEST(RunProcess, ChildHoldsOnlyItsOwnPipesAndDefaultSigpipe) {
  std::signal(SIGPIPE, SIG_IGN);
  // Its standard output and error are the two pipes; a leaked parent end would be a third.
  const auto listing = run_process(kCountOwnPipes);
  ASSERT_TRUE(listing);
  EXPECT_EQ(std::stoul(listing->output), 2 + inheritable_pipes());

  // With SIGPIPE still ignored, `yes` would complain of the closed pipe instead of ending quietly.
  const auto piped = run_process(shell("yes | head -c 1 >/dev/null"));
  ASSERT_TRUE(piped);
  EXPECT_EQ(piped->error, "");
}

// An application may run children from several threads: none may hold a pipe end of another's run
// (which would hold that run until it exits).
TEST(RunProcess, ChildrenOfOtherThreadsHoldNoneOfItsPipes) {
  if (!SORVIK_HAS_PIPE2 && !SORVIK_HAS_SPAWN_CLOEXEC_DEFAULT) {
    GTEST_SKIP() << "pipe and fcntl without POSIX_SPAWN_CLOEXEC_DEFAULT leave a window";
  }
  std::atomic<bool> done{false};
  std::thread churn([&] {
    while (!done) (void)run_process(shell("exit 0"));
  });
  const std::size_t expected = 2 + inheritable_pipes();
  for (int round = 0; round < 100; ++round) {
    const auto listing = run_process(kCountOwnPipes);
    ASSERT_TRUE(listing);
    EXPECT_EQ(std::stoul(listing->output), expected) << "round " << round;
  }
  done = true;
  churn.join();
}

TEST(RunProcess, InheritedInputIsTheCallersOwn) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  std::fputs("from the caller", file);
  std::fflush(file);
  ::lseek(::fileno(file), 0, SEEK_SET);
  const UniqueFd saved(::dup(STDIN_FILENO));
  ASSERT_EQ(::dup2(::fileno(file), STDIN_FILENO), STDIN_FILENO);
  ProcessOptions inherit;
  inherit.input_mode = InputMode::Inherit;
  const auto result = run_process(std::vector<std::string>{"cat"}, inherit);
  ::dup2(saved.get(), STDIN_FILENO);
  std::fclose(file);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->output, "from the caller");
}

// PATH set to `value` (unset for nothing) while the object lives; the old value comes back after.
class ScopedSearchPath {
 public:
  explicit ScopedSearchPath(const std::optional<std::string>& value) {
    if (const char* old = ::getenv("PATH")) saved_ = old;
    if (value) {
      ::setenv("PATH", value->c_str(), 1);
    } else {
      ::unsetenv("PATH");
    }
  }
  ~ScopedSearchPath() {
    if (saved_) {
      ::setenv("PATH", saved_->c_str(), 1);
    } else {
      ::unsetenv("PATH");
    }
  }
  ScopedSearchPath(const ScopedSearchPath&) = delete;
  ScopedSearchPath& operator=(const ScopedSearchPath&) = delete;

 private:
  std::optional<std::string> saved_;
};

// A fresh directory of programs named `prog`, each a script that prints its directory's name.
class ProgramDirectories {
 public:
  ProgramDirectories() {
    std::string pattern = (std::filesystem::temp_directory_path() / "sorvik-path-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
  }
  ~ProgramDirectories() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  ProgramDirectories(const ProgramDirectories&) = delete;
  ProgramDirectories& operator=(const ProgramDirectories&) = delete;

  // `name`/prog, executable or not.
  std::string add(const std::string& name, bool executable) {
    std::filesystem::create_directories(root_ / name);
    const auto program = root_ / name / "prog";
    std::ofstream(program) << "#!/bin/sh\necho " << name << "\n";
    std::filesystem::permissions(program, std::filesystem::perms(executable ? 0755 : 0644));
    return (root_ / name).string();
  }
  [[nodiscard]] const std::filesystem::path& root() const { return root_; }

 private:
  std::filesystem::path root_;
};

std::string output_of(const std::string& program) {
  const auto result = run_process(std::vector<std::string>{program});
  if (!result) return result.error().message();
  return result->output;
}

// Found as posix_spawnp finds it, except in the working directory or the C library's own list.
TEST(RunProcess, LooksProgramsUpInTheAbsoluteEntriesOfPathOnly) {
  ProgramDirectories programs;
  const std::string first = programs.add("first", true);
  const std::string second = programs.add("second", true);
  const std::string denied = programs.add("denied", false);
  std::filesystem::create_directories(programs.root() / "directory" / "prog");
  const std::string directory = (programs.root() / "directory").string();
  {
    const ScopedSearchPath path(first + ":" + second);
    EXPECT_EQ(output_of("prog"), "first\n");
  }
  {
    // Not executable there, or a directory: the search goes on.
    const ScopedSearchPath path(denied + ":" + directory + "::" + second);
    EXPECT_EQ(output_of("prog"), "second\n");
  }
  {
    const ScopedSearchPath path(denied + ":/nonexistent");
    EXPECT_EQ(output_of("prog"), "Permission denied (os error 13)");
  }

  // The working directory holds a `prog` that must never run.
  const auto here = std::filesystem::current_path();
  std::filesystem::current_path(first);
  for (const std::optional<std::string>& path :
       {std::optional<std::string>(""), std::optional<std::string>("/nonexistent:"),
        std::optional<std::string>(":/nonexistent"), std::optional<std::string>("."),
        std::optional<std::string>("../first"), std::optional<std::string>(std::nullopt)}) {
    const ScopedSearchPath scoped(path);
    EXPECT_EQ(output_of("prog"), "No such file or directory (os error 2)")
        << path.value_or("unset");
    // Without PATH even the C library's default list (/bin/sh is on it) is not searched.
    if (!path) {
      EXPECT_EQ(output_of("sh"), "No such file or directory (os error 2)");
    }
  }
  // A name with a "/" is taken as given.
  EXPECT_EQ(output_of("./prog"), "first\n");
  std::filesystem::current_path(here);
}

}  // namespace
}  // namespace sorvik_lib::sys
