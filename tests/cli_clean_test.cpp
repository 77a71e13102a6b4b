// `sorvik clean` end to end, without a terminal: trees made under fresh temporary directories are
// cleaned by the built tool, which answers with JSON and its exit status.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "support/file_tree.hpp"
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

// The whole document, checked for the keys every clean has.
json parse_all(const sorvik_lib::sys::ProcessResult& run, bool dry_run = false) {
  EXPECT_EQ(run.error, "");
  json document = json::parse(run.output, nullptr, false);
  EXPECT_FALSE(document.is_discarded()) << run.output;
  if (document.is_discarded()) return document;
  EXPECT_EQ(document.value("dryRun", json()), dry_run) << run.output;
  EXPECT_EQ(document.value("interrupted", json()), false) << run.output;
  EXPECT_TRUE(document.value("bytesAllocated", json()).is_number_unsigned()) << run.output;
  return document;
}

// The document without the keys that are not part of a result.
json parse(const sorvik_lib::sys::ProcessResult& run, bool dry_run = false) {
  json document = parse_all(run, dry_run);
  if (document.is_object()) {
    for (const char* key : {"dryRun", "interrupted", "bytesAllocated"}) document.erase(key);
  }
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
  EXPECT_EQ(parse(run, true),
            result_json({path("cache"), path("kept")}, {}, 1200 + 800 + 300 + 30));
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
  // A relative path is made absolute by joining alone: its ".." stays and is refused.
  const auto run = clean_in(dir_.path(), {"sub/../cache", up_and_over, up, path("kept/top.tmp")});
  EXPECT_EQ(run.status.value, 1);
  EXPECT_EQ(parse(run),
            result_json({path("kept/top.tmp")},
                        {error_entry(up_and_over, "Path contains traversal: " + up_and_over),
                         error_entry(up_and_over, "Path contains traversal: " + up_and_over),
                         error_entry(up, "Path contains traversal: " + up)},
                        30));
  EXPECT_TRUE(exists_no_follow(dir_ / "cache/blobs/one.bin"));
}

TEST_F(CliClean, RelativePathsAndDirsAreTakenFromTheWorkingDirectory) {
  const auto run = clean_in(dir_ / "kept", {"../report.log", "sub", "--keep", "sub/"});
  EXPECT_EQ(run.status.value, 1);
  const std::string up = path("kept") + "/../report.log";
  EXPECT_EQ(parse(run), result_json({path("kept/sub")},
                                    {error_entry(up, "Path contains traversal: " + up)}, 300));
  EXPECT_TRUE(fs::is_directory(dir_ / "kept/sub"));
  EXPECT_TRUE(fs::is_empty(dir_ / "kept/sub"));
  EXPECT_TRUE(exists_no_follow(dir_ / "report.log"));

  const auto plain = clean_in(dir_.path(), {"report.log", "./cache"});
  EXPECT_EQ(plain.status.value, 0);
  EXPECT_EQ(parse(plain), result_json({path("report.log"), path("./cache")}, {}, 5000 + 2000));
  EXPECT_FALSE(exists_no_follow(dir_ / "report.log"));
  EXPECT_FALSE(exists_no_follow(dir_ / "cache"));
  EXPECT_TRUE(exists_no_follow(dir_ / "kept/top.tmp"));

  // An empty PATH names no file: it must not become the working directory.
  const auto empty = clean_in(dir_ / "kept", {""});
  EXPECT_EQ(empty.status.value, 1);
  EXPECT_EQ(parse(empty), result_json({}, {error_entry("", "Path is not absolute: ")}, 0));
  EXPECT_TRUE(exists_no_follow(dir_ / "kept/top.tmp"));
}

TEST_F(CliClean, AKeptDirThatIsNoPathIsBadUsageAndTouchesNothing) {
  for (const auto& arguments : std::vector<std::vector<std::string>>{
           {path("cache"), "--keep", path("kept")},
           {path("kept"), "--keep", path("kept/sub")},
           {path("kept"), "--keep", path("kept"), "--keep", "cache"},
           {"kept", "--keep", path("kept") + "/../kept"}}) {
    const auto run = clean_in(dir_.path(), arguments);
    EXPECT_EQ(run.status.value, 2) << arguments.back();
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(run.error, "sorvik: --keep DIR is not among the PATHs: " + arguments.back() + "\n");
  }
  EXPECT_TRUE(exists_no_follow(dir_ / "kept/sub/entry.tmp"));
  EXPECT_TRUE(exists_no_follow(dir_ / "cache/blobs/one.bin"));
}

// `T T T/f` as a dry run lists T once with what the real run then frees: the later paths are
// gone by the time the real run reaches them.
TEST_F(CliClean, ADryRunOfOverlappingPathsPreviewsTheRealRun) {
  const std::string tree = path("cache");
  const auto files = count_tree(dir_ / "cache");
  const std::vector<std::string> arguments = {tree, tree, tree + "/two.bin"};
  std::vector<std::string> dry_arguments = arguments;
  dry_arguments.insert(dry_arguments.begin(), "--dry-run");
  const json preview = parse_all(clean_in(dir_.path(), dry_arguments), true);
  EXPECT_EQ(preview["removed"], json::array({tree}));
  EXPECT_EQ(preview["bytesFreed"], files.bytes);
  EXPECT_EQ(preview["bytesAllocated"], files.allocated);
  EXPECT_TRUE(exists_no_follow(dir_ / "cache/two.bin"));

  const json real = parse_all(clean_in(dir_.path(), arguments));
  EXPECT_EQ(real["removed"], preview["removed"]);
  EXPECT_EQ(real["bytesFreed"], preview["bytesFreed"]);
  EXPECT_EQ(real["bytesAllocated"], preview["bytesAllocated"]);
  EXPECT_FALSE(exists_no_follow(dir_ / "cache"));
}

TEST_F(CliClean, OutputThatCannotBeWrittenIsExitOne) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full to make writes fail";
  const auto run = ::sorvik_test::run(
      "/bin/sh",
      {"-c", "exec \"$0\" clean --json \"$1\" >/dev/full", kCliPath, path("report.log")});
  EXPECT_EQ(run.status.value, 1);
  EXPECT_EQ(run.error,
            "sorvik: cannot write to standard output: No space left on device (os error 28)\n");
  // The work itself was done; only its report was lost.
  EXPECT_FALSE(exists_no_follow(dir_ / "report.log"));
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
  EXPECT_NE(
      help.output.find("Exit status: 0 all good, 1 the work reported errors or standard output"),
      std::string::npos);
}

}  // namespace
}  // namespace sorvik_test
