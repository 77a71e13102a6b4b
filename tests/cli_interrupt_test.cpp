// Ctrl-C and SIGTERM during `sorvik clean`: the tool stops after the entry at hand, tells what went
// so far and exits 130; for a person as a summary, for a script as a whole JSON document. The
// tree is big enough that the signal lands well inside the removal.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>

#include "support/file_tree.hpp"
#include "support/helper_process.hpp"
#include "support/pseudo_terminal.hpp"

namespace sorvik_test {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kDirectories = 50;
constexpr std::size_t kFilesEach = 1000;

class CliInterrupt : public testing::Test {
 protected:
  void SetUp() override {
    make_wide_tree(tree(), kDirectories, kFilesEach, 100);
    before_ = count_tree(tree());
  }

  fs::path tree() const { return dir_ / "tree"; }

  // Sends `signal` once the removal has taken a first whole subdirectory: past its start, far
  // from its end.
  TerminalOptions signal_midway(int signal) const {
    TerminalOptions options;
    options.columns = 120;
    auto sent = std::make_shared<bool>(false);
    options.watch = [this, signal, sent](pid_t child, const std::string&) {
      if (*sent) return;
      std::error_code error;
      std::size_t left = 0;
      for (fs::directory_iterator it(tree(), error), end; !error && it != end;
           it.increment(error)) {
        ++left;
      }
      if (!error && left < kDirectories) *sent = ::kill(child, signal) == 0;
    };
    return options;
  }

  TempDir dir_{fast_temp_directory()};
  TreeCount before_;
};

TEST_F(CliInterrupt, CtrlCOnATerminalEndsWithTheSummarySoFar) {
  const TerminalRun run =
      run_on_terminal(kCliPath, {"clean", tree().string()}, signal_midway(SIGINT));
  EXPECT_EQ(run.status.kind, sorvik_lib::sys::ExitStatus::Kind::Exited);
  EXPECT_EQ(run.status.value, 130) << run.output;
  const Screen screen = split_screen(run.output);
  EXPECT_TRUE(screen.report.starts_with("Interrupted: freed ")) << run.output;
  EXPECT_NE(
      screen.report.find(" from 0 paths, 1 error\nerror: " + tree().string() + ": Cancelled\n"),
      std::string::npos)
      << screen.report;
  // Stopped inside the tree: some of it went, most of it is still there.
  const TreeCount after = count_tree(tree());
  EXPECT_GT(after.files, 0u);
  EXPECT_LE(after.files, before_.files - kFilesEach);
}

TEST_F(CliInterrupt, SigtermWithJsonGivesAWholeDocumentOfWhatWent) {
  const TerminalRun run =
      run_on_terminal(kCliPath, {"clean", "--json", tree().string()}, signal_midway(SIGTERM));
  EXPECT_EQ(run.status.value, 130) << run.output;
  const auto document = nlohmann::json::parse(run.output, nullptr, false);
  ASSERT_FALSE(document.is_discarded()) << run.output;
  EXPECT_EQ(document["interrupted"], true);
  EXPECT_EQ(document["dryRun"], false);
  EXPECT_EQ(document["removed"], nlohmann::json::array());
  EXPECT_EQ(
      document["errors"],
      nlohmann::json::array({nlohmann::json{{"path", tree().string()}, {"message", "Cancelled"}}}));
  // The bytes reported are exactly those of the files that are gone.
  const TreeCount after = count_tree(tree());
  EXPECT_LT(after.files, before_.files);
  EXPECT_GT(after.files, 0u);
  EXPECT_EQ(document["bytesFreed"], before_.bytes - after.bytes);
  EXPECT_EQ(document["bytesAllocated"], before_.allocated - after.allocated);
}

}  // namespace
}  // namespace sorvik_test
