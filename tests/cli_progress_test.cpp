// `sorvik clean` on a terminal: a pseudo-terminal holds the tool's standard output, and what
// reaches it must be one progress line redrawn in place, then the report.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>

#include "support/file_tree.hpp"
#include "support/helper_process.hpp"
#include "support/pseudo_terminal.hpp"

namespace sorvik_test {
namespace {

namespace fs = std::filesystem;

// Columns a drawn line takes: UTF-8 characters, the one wide ellipsis aside.
std::size_t columns_of(std::string_view line) {
  std::size_t columns = 0;
  for (const char c : line) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++columns;
  }
  return columns;
}

// The report with each " (1.2MB on disk)" taken out: the space a file takes depends on the file
// system under the test, the rest of the report does not.
std::string without_disk_space(std::string report) {
  for (std::size_t open = report.find(" ("); open != std::string::npos;
       open = report.find(" (", open + 1)) {
    const std::size_t close = report.find(" on disk)", open);
    if (close != std::string::npos && report.find('\n', open) > close) {
      report.erase(open, close + std::string_view(" on disk)").size() - open);
    }
  }
  return report;
}

class CliOnATerminal : public testing::Test {
 protected:
  void SetUp() override {
    // A name long enough that the line must be shortened to fit 50 columns.
    long_name_ = "a-rather-long-directory-name-that-does-not-fit";
    fs::create_directories(dir_ / long_name_ / "inner");
    write_file(dir_ / long_name_ / "inner/blob.bin", std::string(2'000'000, 'b'));
    for (int i = 0; i < 4; ++i) {
      write_file(dir_ / ("file" + std::to_string(i)), std::string(1000, 'f'));
    }
  }

  std::vector<std::string> all_paths() const {
    std::vector<std::string> paths = {(dir_ / long_name_).string()};
    for (int i = 0; i < 4; ++i) paths.push_back((dir_ / ("file" + std::to_string(i))).string());
    return paths;
  }

  TempDir dir_;
  std::string long_name_;
};

TEST_F(CliOnATerminal, TheProgressLineIsRedrawnInPlaceThenTheSummary) {
  std::vector<std::string> arguments = {"clean"};
  for (auto& path : all_paths()) arguments.push_back(path);
  const TerminalRun run = run_on_terminal(kCliPath, arguments, 50);
  EXPECT_EQ(run.status.value, 0);
  EXPECT_EQ(run.error, "");

  const Screen screen = split_screen(run.output);
  // Drawn at least at the last event, then cleared: the report starts at the left margin.
  ASSERT_GE(screen.drawn.size(), 2u) << run.output;
  EXPECT_EQ(screen.drawn.back(), "");
  for (std::size_t i = 0; i + 1 < screen.drawn.size(); ++i) {
    const std::string& line = screen.drawn[i];
    EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    EXPECT_LE(columns_of(line), 49u) << line;
    EXPECT_NE(line.find("/5 paths, "), std::string::npos) << line;
  }
  EXPECT_TRUE(screen.drawn[screen.drawn.size() - 2].starts_with("5/5 paths, 2.004MB freed"))
      << screen.drawn[screen.drawn.size() - 2];
  EXPECT_EQ(without_disk_space(screen.report), "Freed 2.004MB from 5 paths\n");
  EXPECT_TRUE(screen.report.starts_with("Freed 2.004MB (")) << screen.report;
  EXPECT_TRUE(fs::is_empty(dir_.path()));
}

TEST_F(CliOnATerminal, ALongPathIsShortenedInTheMiddle) {
  const TerminalRun run = run_on_terminal(kCliPath, {"clean", (dir_ / long_name_).string()}, 50);
  const Screen screen = split_screen(run.output);
  ASSERT_GE(screen.drawn.size(), 2u) << run.output;
  const std::string& last = screen.drawn[screen.drawn.size() - 2];
  EXPECT_TRUE(last.starts_with("1/1 paths, 2MB freed: /")) << last;
  EXPECT_NE(last.find("\xe2\x80\xa6"), std::string::npos) << last;
  EXPECT_TRUE(last.ends_with("does-not-fit")) << last;
  EXPECT_EQ(without_disk_space(screen.report), "Freed 2MB from 1 path\n");
}

TEST_F(CliOnATerminal, JsonHoldsNoProgressLine) {
  std::vector<std::string> arguments = {"clean", "--json"};
  for (auto& path : all_paths()) arguments.push_back(path);
  const TerminalRun run = run_on_terminal(kCliPath, arguments, 50);
  EXPECT_EQ(run.status.value, 0);
  EXPECT_EQ(run.output.find('\r'), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find('\x1b'), std::string::npos) << run.output;
  const auto document = nlohmann::json::parse(run.output, nullptr, false);
  ASSERT_FALSE(document.is_discarded()) << run.output;
  EXPECT_EQ(document["bytesFreed"], 2'004'000);
  EXPECT_EQ(document["removed"].size(), 5u);
}

TEST_F(CliOnATerminal, DryRunListsSizesAndHarmlessNamesAndDeletesNothing) {
  const fs::path hostile = dir_ / "clear\x1b[2J\nscreen";
  write_file(hostile, std::string(42, 'h'));
  // A relative path is taken from the working directory, which the child shares.
  const std::string up = fs::current_path().string() + "/../x";
  const TerminalRun run = run_on_terminal(
      kCliPath, {"clean", "--dry-run", (dir_ / long_name_).string(), hostile.string(), "../x"},
      200);
  EXPECT_EQ(run.status.value, 1);
  const Screen screen = split_screen(run.output);
  EXPECT_EQ(without_disk_space(screen.report),
            "Would remove:\n"
            "  2MB  " +
                (dir_ / long_name_).string() +
                "\n"
                "  42B  " +
                dir_.path().string() +
                "/clear\\u{1b}[2J\\nscreen\n"
                "Would free 2MB from 2 paths, 1 error\n"
                "error: " +
                up + ": Path contains traversal: " + up +
                "\n"
                "Dry run: nothing was deleted.\n");
  for (const auto& line : screen.drawn) EXPECT_EQ(line.find_first_of("\n\x1b"), std::string::npos);
  EXPECT_TRUE(fs::exists(dir_ / long_name_ / "inner/blob.bin"));
  EXPECT_TRUE(fs::exists(hostile));
}

// One tree of 30,000 files or more: the walk inside it shows on the line with counts that move and
// its rate, and however often the cleaner reports, the line is redrawn about ten times a second at
// most. A machine fast enough to walk the tree before the line moves gets a tree three times as
// large, up to 270,000 files.
TEST(CliOnATerminalTree, TheWalkInsideOneTreeShowsAndRedrawsStayThrottled) {
  for (std::size_t files_each = 1000;; files_each *= 3) {
    const TempDir dir(fast_temp_directory());
    make_wide_tree(dir / "tree", 30, files_each, 10);
    const auto start = std::chrono::steady_clock::now();
    const TerminalRun run = run_on_terminal(kCliPath, {"clean", (dir / "tree").string()}, 200);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(run.status.value, 0) << run.error;

    const Screen screen = split_screen(run.output);
    std::set<std::string> counts;
    bool rate_shown = false;
    for (const std::string& line : screen.drawn) {
      for (const std::string_view walk : {"; measuring ", "; removing "}) {
        const std::size_t at = line.find(walk);
        if (at == std::string::npos) continue;
        const std::size_t from = at + walk.size();
        counts.insert(line.substr(from, line.find(' ', from) - from));
        EXPECT_TRUE(line.starts_with("0/1 paths, 0B freed; ")) << line;
        EXPECT_TRUE(line.ends_with(": " + (dir / "tree").string())) << line;
      }
      rate_shown = rate_shown || line.find(" entries/s: ") != std::string::npos;
    }
    // The first draw, one per 100ms after it, the last event's and the clearing.
    EXPECT_LE(static_cast<double>(screen.drawn.size()), seconds * 10 + 3)
        << screen.drawn.size() << " lines in " << seconds << "s";
    EXPECT_EQ(count_tree(dir / "tree").files, 0u);
    EXPECT_FALSE(fs::exists(dir / "tree"));
    if (counts.size() >= 2 && rate_shown) break;
    if (files_each >= 9'000) {
      ADD_FAILURE() << "the line never moved: " << run.output;
      break;
    }
  }
}

}  // namespace
}  // namespace sorvik_test
