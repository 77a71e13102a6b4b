// `sorvik clean` on a terminal: a pseudo-terminal holds the tool's standard output, and what
// reaches it must be one progress line redrawn in place, then the report.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "support/helper_process.hpp"
#include "support/pseudo_terminal.hpp"

namespace sorvik_test {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kClearToEnd = "\x1b[K";

// Columns a drawn line takes: UTF-8 characters, the one wide ellipsis aside.
std::size_t columns_of(std::string_view line) {
  std::size_t columns = 0;
  for (const char c : line) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++columns;
  }
  return columns;
}

struct Screen {
  std::vector<std::string> drawn;  // each progress line as drawn, without its control bytes
  std::string report;              // what follows the cleared line
};

// Splits terminal output of the form ("\r" LINE "\x1b[K")* "\r\x1b[K" REPORT.
Screen split(const std::string& output) {
  Screen screen;
  std::size_t at = 0;
  while (output.compare(at, 1, "\r") == 0) {
    const std::size_t end = output.find(kClearToEnd, at);
    if (end == std::string::npos) break;
    screen.drawn.push_back(output.substr(at + 1, end - at - 1));
    at = end + kClearToEnd.size();
  }
  screen.report = output.substr(at);
  return screen;
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

  const Screen screen = split(run.output);
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
  EXPECT_EQ(screen.report, "Freed 2.004MB from 5 paths\n");
  EXPECT_TRUE(fs::is_empty(dir_.path()));
}

TEST_F(CliOnATerminal, ALongPathIsShortenedInTheMiddle) {
  const TerminalRun run = run_on_terminal(kCliPath, {"clean", (dir_ / long_name_).string()}, 50);
  const Screen screen = split(run.output);
  ASSERT_GE(screen.drawn.size(), 2u) << run.output;
  const std::string& last = screen.drawn[screen.drawn.size() - 2];
  EXPECT_TRUE(last.starts_with("1/1 paths, 2MB freed: /")) << last;
  EXPECT_NE(last.find("\xe2\x80\xa6"), std::string::npos) << last;
  EXPECT_TRUE(last.ends_with("does-not-fit")) << last;
  EXPECT_EQ(screen.report, "Freed 2MB from 1 path\n");
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
  const TerminalRun run = run_on_terminal(
      kCliPath, {"clean", "--dry-run", (dir_ / long_name_).string(), hostile.string(), "relative"},
      200);
  EXPECT_EQ(run.status.value, 1);
  const Screen screen = split(run.output);
  EXPECT_EQ(screen.report,
            "Would remove:\n"
            "  2MB  " +
                (dir_ / long_name_).string() +
                "\n"
                "  42B  " +
                dir_.path().string() +
                "/clear\\u{1b}[2J\\nscreen\n"
                "Would free 2MB from 2 paths, 1 error\n"
                "error: relative: Path is not absolute: relative\n"
                "Dry run: nothing was deleted.\n");
  for (const auto& line : screen.drawn) EXPECT_EQ(line.find_first_of("\n\x1b"), std::string::npos);
  EXPECT_TRUE(fs::exists(dir_ / long_name_ / "inner/blob.bin"));
  EXPECT_TRUE(fs::exists(hostile));
}

}  // namespace
}  // namespace sorvik_test
