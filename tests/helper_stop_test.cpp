// SIGTERM and SIGINT to the real helper at each stage that can wait on someone else: while it
// obtains the request (a FIFO with no writer, standard input left open), while a docker prune
// runs, and while it writes the result to a pipe nobody reads. It ends within two seconds of the
// signal each time, with its one result wherever one can still be delivered.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "sorvik_lib/platform.hpp"
#include "sorvik_lib/sys/unique_fd.hpp"
#include "sorvik_lib/types/wire.hpp"
#include "support/helper_process.hpp"
#include "support/running_helper.hpp"
#include "support/stand_in_programs.hpp"

namespace sorvik_test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using sorvik_lib::sys::UniqueFd;
using sorvik_lib::types::CleanResult;
using sorvik_lib::types::ErrorEntry;

// How long the helper may take to end once signalled, at any stage.
constexpr auto kEndsWithin = 2s;
// How long it may take to start, even on a busy machine; only a bound against hanging.
constexpr auto kStartsWithin = 20s;

struct Pipe {
  UniqueFd read_end;
  UniqueFd write_end;
};

Pipe make_pipe() {
  int fds[2];
  if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
  return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

// Everything in the pipe so far, once its writers are gone.
std::string read_to_end(int fd) {
  std::string bytes;
  char chunk[4096];
  for (ssize_t got; (got = ::read(fd, chunk, sizeof chunk)) != 0;) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    bytes.append(chunk, static_cast<std::size_t>(got));
  }
  return bytes;
}

// Signals the helper and expects it to end in time, with nothing on standard error and exit
// status `status`.
void signal_and_expect_end(RunningHelper& helper, int signal, int status) {
  ASSERT_EQ(::kill(helper.pid(), signal), 0);
  const auto ended = helper.wait_for_exit(kEndsWithin);
  ASSERT_TRUE(ended) << "still running " << kEndsWithin.count() << " s after signal " << signal;
  EXPECT_TRUE(WIFEXITED(*ended)) << "ended by signal " << WTERMSIG(*ended);
  EXPECT_EQ(WEXITSTATUS(*ended), status);
  EXPECT_EQ(helper.error_output(), "");
}

// Fills the pipe whose write end is `fd` to the brim, leaving the descriptor blocking as before.
void fill(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  ASSERT_EQ(::fcntl(fd, F_SETFL, flags | O_NONBLOCK), 0);
  const std::string chunk(4096, 'x');
  while (::write(fd, chunk.data(), chunk.size()) > 0) {
  }
  ASSERT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK);
  ASSERT_EQ(::fcntl(fd, F_SETFL, flags), 0);
}

CleanResult cancelled_input() {
  return sorvik_lib::types::single_error_result("input", "Cancelled");
}

// The helper started on the FIFO `fifo` as its request file, with no input and its output on
// `output`, once it catches the stop signals.
std::unique_ptr<RunningHelper> start_on_fifo(const fs::path& fifo, Pipe& output) {
  const UniqueFd null_input(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  auto helper = std::make_unique<RunningHelper>(std::vector<std::string>{fifo.string()},
                                                null_input.get(), output.write_end.get());
  output.write_end.reset();
  EXPECT_TRUE(helper->wait_until_it_catches_stop_signals(kStartsWithin));
  return helper;
}

class HelperStop : public testing::Test {
 protected:
  void SetUp() override {
    if (!SORVIK_TESTS_HAVE_LINUX) GTEST_SKIP() << "the helper's handlers are seen through /proc";
  }
};

TEST_F(HelperStop, RequestFileThatIsAFifoWithNoWriter) {
  for (const int signal : {SIGTERM, SIGINT}) {
    TempDir dir;
    const auto fifo = dir / "request.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    Pipe output = make_pipe();
    const auto helper = start_on_fifo(fifo, output);
    if (HasFailure()) return;
    signal_and_expect_end(*helper, signal, 1);
    EXPECT_EQ(decode_exact(read_to_end(output.read_end.get())), cancelled_input());
    // Not read, so left in place.
    EXPECT_TRUE(fs::is_fifo(fifo));
  }
}

TEST_F(HelperStop, RequestFileThatIsAFifoIsReadOnceAWriterComes) {
  TempDir dir;
  const auto fifo = dir / "request.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  Pipe output = make_pipe();
  const auto helper = start_on_fifo(fifo, output);
  if (HasFailure()) return;
  // A writer's open that does not wait fails (ENXIO) until the helper has the FIFO open.
  UniqueFd writer;
  ASSERT_TRUE(wait_until(
      [&] {
        writer = UniqueFd(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
        return writer.valid();
      },
      kStartsWithin));
  const std::string request = elevated_request({});
  ASSERT_EQ(::write(writer.get(), request.data(), request.size()),
            static_cast<ssize_t>(request.size()));
  writer.reset();
  const auto ended = helper->wait_for_exit(kStartsWithin);
  ASSERT_TRUE(ended);
  EXPECT_TRUE(WIFEXITED(*ended) && WEXITSTATUS(*ended) == 0);
  EXPECT_EQ(decode_exact(read_to_end(output.read_end.get())), CleanResult{});
  EXPECT_FALSE(fs::exists(fs::symlink_status(fifo)));
}

TEST_F(HelperStop, StandardInputLeftOpen) {
  for (const int signal : {SIGTERM, SIGINT}) {
    Pipe input = make_pipe();
    Pipe output = make_pipe();
    RunningHelper helper({}, input.read_end.get(), output.write_end.get());
    input.read_end.reset();
    output.write_end.reset();
    // Half a request, and the rest never comes: the pipe stays open.
    const std::string request = elevated_request({"/nowhere"});
    ASSERT_EQ(::write(input.write_end.get(), request.data(), request.size() / 2),
              static_cast<ssize_t>(request.size() / 2));
    ASSERT_TRUE(helper.wait_until_it_catches_stop_signals(kStartsWithin));
    signal_and_expect_end(helper, signal, 1);
    EXPECT_EQ(decode_exact(read_to_end(output.read_end.get())), cancelled_input());
  }
}

TEST_F(HelperStop, ResultOnAFullPipeThatNobodyReads) {
  Pipe output = make_pipe();
  fill(output.write_end.get());
  TempDir dir;
  const auto request_file = dir / "request.bin";
  write_file(request_file, elevated_request({}));
  const UniqueFd null_input(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  RunningHelper helper({request_file.string()}, null_input.get(), output.write_end.get());
  output.write_end.reset();
  // Once the request file is gone, nothing is left to look at the stop but the writing of the
  // (empty) result, which finds the pipe full.
  ASSERT_TRUE(
      wait_until([&] { return !fs::exists(fs::symlink_status(request_file)); }, kStartsWithin));
  signal_and_expect_end(helper, SIGTERM, 0);
}

TEST_F(HelperStop, ManagedCleanStopsTheRunningDockerAndReportsWhatRan) {
  StandInPrograms programs;
  const std::vector<std::string> dangling = {"docker", "image", "prune", "-f"};
  const std::vector<std::string> builder = {"docker", "builder", "prune", "-f"};
  const std::vector<std::string> volumes = {"docker", "volume", "prune", "-f"};
  programs.answer(dangling, "Total reclaimed space: 1.5kB\n");
  programs.answer_until_terminated(builder, "Total reclaimed space: 9GB\n");
  programs.answer(volumes, "Total reclaimed space: 3kB\n");
  Pipe input = make_pipe();
  Pipe output = make_pipe();
  const std::string request =
      managed_request("docker", {"dangling_images", "build_cache", "unused_volumes"});
  ASSERT_EQ(::write(input.write_end.get(), request.data(), request.size()),
            static_cast<ssize_t>(request.size()));
  input.write_end.reset();
  RunningHelper helper({}, input.read_end.get(), output.write_end.get());
  input.read_end.reset();
  output.write_end.reset();
  ASSERT_TRUE(wait_until([&] { return !programs.waiting().empty(); }, kStartsWithin));
  signal_and_expect_end(helper, SIGTERM, 0);
  EXPECT_EQ(decode_exact(read_to_end(output.read_end.get())),
            (CleanResult{{"managed://docker/dangling_images"},
                         {{"managed://docker/build_cache", "Cancelled"},
                          {"managed://docker/unused_volumes", "Cancelled"}},
                         1500}));
  EXPECT_EQ(programs.calls(), (std::vector<std::vector<std::string>>{dangling, builder}));
  EXPECT_EQ(programs.terminated(), std::vector<std::vector<std::string>>{builder});
}

}  // namespace
}  // namespace sorvik_test
