// `sorvik clean` end to end, without a terminal: trees made under fresh temporary directories are
// cleaned by the built tool, which answers with JSON and its exit status.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "support/helper_process.hpp"

namespace sorvik_test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

bool exists_no_follow(const fs::path& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0;
}

// The tool run from inside `directory`, so that a relative path could only ever name something
// there.
sorvik_lib::sys::ProcessResult clean_in(const fs::path& directory,
                                        std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(),
                   {"-c", "cd \"$0\" && exec \"$@\"", directory.string(), kCliPath, "clean"});
  return run("/bin/sh", std::move(arguments));
}

json parse(const sorvik_lib::sys::ProcessResult& run) {
  EXPECT_EQ(run.error, "");
  json document = json::parse(run.output, nullptr, false);
  EXPECT_FALSE(document.is_discarded()) << run.output;
  return document;
}

json error_entry(const std::string& path, const std::string& message) {
  return {{"path", path}, {"message", message}};
}

// The document as `sorvik result --json` prints a result: the record's own field names.
json result_json(const std::vector<std::string>& removed, const std::vector<json>& errors,
                 std::uint64_t bytes) {
  return {{"removed", removed}, {"errors", errors}, {"bytesFreed", bytes}};
}

class CliClean : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ / "cache/blobs");
    write_file(dir_ / "cache/blobs/one.bin", std::string(1200, 'x'));
    write_file(dir_ / "cache/two.bin", std::string(800, 'x'));
    write_file(dir_ / "report.log", std::string(5000, 'r'));
    fs::create_directories(dir_ / "kept/sub");
    write_file(dir_ / "kept/sub/entry.tmp", std::string(300, 'k'));
    write_file(dir_ / "kept/top.tmp", std::string(30, 'k'));
  }

  std::string path(std::string_view name) const { return (dir_ / name).string(); }

  TempDir dir_;
};

TEST_F(CliClean, RemovesAndAnswersWithTheResultAsJson) {
  const std::string odd_name = path("odd\xff\nname");
  write_file(odd_name, std::string(7, 'o'));
  const auto run = clean_in(dir_.path(), {path("cache"), path("report.log"), path("missing"),
                                          odd_name, path("kept"), "--keep", path("kept") + "/"});
  EXPECT_EQ(run.status.value, 0);
  EXPECT_EQ(parse(run), result_json({path("cache"), path("report.log"),
                                     path("odd\xef\xbf\xbd\nname"), path("kept")},
                                    {}, 1200 + 800 + 5000 + 7 + 300 + 30));
  EXPECT_FALSE(exists_no_follow(dir_ / "cache"));
  EXPECT_FALSE(exists_no_follow(dir_ / "report.log"));
  EXPECT_FALSE(exists_no_follow(odd_name));
  EXPECT_TRUE(fs::is_directory(dir_ / "kept"));
  EXPECT_TRUE(fs::is_empty(dir_ / "kept"));
}

TEST_F(CliClean, DryRunMeasuresAndDeletesNothing) {
  const auto run =
      clean_in(dir_.path(), {"--dry-run", path("cache"), path("kept"), "--keep", path("kept")});
  EXPECT_EQ(run.status.value, 0);
  EXPECT_EQ(parse(run), result_json({path("cache"), path("kept")}, {}, 1200 + 800 + 300 + 30));
  EXPECT_EQ(read_file(dir_ / "cache/blobs/one.bin"), std::string(1200, 'x'));
  EXPECT_TRUE(exists_no_follow(dir_ / "kept/sub/entry.tmp"));
  EXPECT_TRUE(exists_no_follow(dir_ / "kept/top.tmp"));
}

// Each --keep takes one directory: the path after it is cleaned, not kept.
TEST_F(CliClean, KeepTakesOneDirectoryEach) {
  const auto run = clean_in(dir_.path(), {"--keep", path("kept"), path("kept"), path("cache")});
  EXPECT_EQ(run.status.value, 0);
  EXPECT_EQ(parse(run)["removed"], json::array({path("kept"), path("cache")}));
  EXPECT_TRUE(fs::is_empty(dir_ / "kept"));
  EXPECT_FALSE(exists_no_follow(dir_ / "cache"));
}

TEST_F(CliClean, RefusedPathsAreErrorsAndTouchNothing) {
  fs::create_directories(dir_ / "sub");
  const std::string up_and_over = path("sub") + "/../cache";
  const std::string up = path("cache") + "/blobs/..";
  const auto run =
      clean_in(dir_.path(), {"report.log", "sub/../cache", up_and_over, up, path("kept/top.tmp")});
  EXPECT_EQ(run.status.value, 1);
  EXPECT_EQ(parse(run),
            result_json({path("kept/top.tmp")},
                        {error_entry("report.log", "Path is not absolute: report.log"),
                         error_entry("sub/../cache", "Path is not absolute: sub/../cache"),
                         error_entry(up_and_over, "Path contains traversal: " + up_and_over),
                         error_entry(up, "Path contains traversal: " + up)},
                        30));
  EXPECT_TRUE(exists_no_follow(dir_ / "report.log"));
  EXPECT_TRUE(exists_no_follow(dir_ / "cache/blobs/one.bin"));
}

TEST_F(CliClean, AFailureOfTheCleanerIsExitOne) {
  // A kept root that is not a directory cannot be emptied.
  const auto run = clean_in(dir_.path(), {path("report.log"), "--keep", path("report.log")});
  EXPECT_EQ(run.status.value, 1);
  EXPECT_EQ(parse(run),
            result_json({}, {error_entry(path("report.log"), "Not a directory (os error 20)")}, 0));
  EXPECT_TRUE(exists_no_follow(dir_ / "report.log"));
}

TEST_F(CliClean, JsonAskedForIsTheSameDocument) {
  const auto run = clean_in(dir_.path(), {"--json", path("report.log")});
  EXPECT_EQ(run.status.value, 0);
  EXPECT_EQ(parse(run), result_json({path("report.log")}, {}, 5000));
}

TEST_F(CliClean, BadUsageIsExitTwoAndTouchesNothing) {
  for (const auto& arguments : std::vector<std::vector<std::string>>{
           {}, {"--keep"}, {"--frobnicate", path("report.log")}, {"--dry-run=maybe", "x"}}) {
    const auto run = clean_in(dir_.path(), arguments);
    EXPECT_EQ(run.status.value, 2) << arguments.size();
    EXPECT_EQ(run.output, "");
    EXPECT_TRUE(run.error.starts_with("sorvik: ")) << run.error;
  }
  EXPECT_TRUE(exists_no_follow(dir_ / "report.log"));
  const auto help = run(kCliPath, {"clean", "--help"});
  EXPECT_EQ(help.status.value, 0);
  EXPECT_NE(help.output.find("--dry-run"), std::string::npos);
  EXPECT_NE(help.output.find("Exit status: 0 all good, 1 the work reported errors, 2 bad usage"),
            std::string::npos);
}

}  // namespace
}  // namespace sorvik_test
