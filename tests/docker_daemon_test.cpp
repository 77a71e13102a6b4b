// The docker strategy against a real docker daemon of the test's own: the helper's managed
// requests prune what docker says they free, and the library's probe and option listing answer
// from the same daemon. Skipped, with the reason, where no daemon can be started.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>

#include "sorvik_lib/strategies/docker/docker_strategy.hpp"
#include "sorvik_lib/strategies/docker/usage.hpp"
#include "sorvik_lib/types/wire.hpp"
#include "support/helper_process.hpp"
#include "support/private_docker_daemon.hpp"

namespace sorvik_test {
namespace {

namespace fs = std::filesystem;
using sorvik_lib::strategies::ProbeResult;
using sorvik_lib::strategies::docker::DockerStrategy;
using sorvik_lib::strategies::docker::parse_reclaimable;
using sorvik_lib::types::CleanResult;

// The CLI that the older docker.io package installs; only it can drive the daemon's built-in
// builder without a build plugin.
constexpr const char* kBuilderCli = "/usr/bin/docker";
constexpr const char* kBusybox = "/bin/busybox";

// Sets an environment variable for the life of the object.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
    if (const char* old = ::getenv(name)) saved_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnvironment() {
    if (saved_) {
      ::setenv(name_, saved_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  const char* name_;
  std::optional<std::string> saved_;
};

struct CommandRun {
  bool ok;
  std::string output;
  std::string error;
};

// A command with the test's environment (DOCKER_HOST included); the program is found on PATH.
CommandRun command(std::vector<std::string> arguments) {
  sorvik_lib::sys::ProcessOptions options;
  const auto result = sorvik_lib::sys::run_process(arguments, options);
  if (!result) return {false, "", result.error().message()};
  return {result->status.success(), result->output, result->error};
}

// Runs a command that must succeed for the fixture to make sense.
std::string must(std::vector<std::string> arguments) {
  std::string shown;
  for (const auto& argument : arguments) shown += argument + " ";
  const CommandRun run = command(std::move(arguments));
  EXPECT_TRUE(run.ok) << shown << "failed: " << run.error;
  return run.output;
}

CleanResult helper_clean(std::vector<std::string> options) {
  const auto run = run_helper(managed_request("docker", std::move(options)));
  EXPECT_EQ(run.error, "");
  EXPECT_TRUE(run.status.success());
  return decode_exact(run.output);
}

// The "Reclaimable" figure of each type in `docker system df`, in bytes, as docker states it.
std::map<std::string, std::uint64_t> reclaimable_by_type() {
  std::map<std::string, std::uint64_t> figures;
  const std::string output =
      must({"docker", "system", "df", "--format", "{{.Type}}\t{{.Reclaimable}}"});
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    const auto tab = line.find('\t');
    if (tab == std::string::npos) continue;
    figures[line.substr(0, tab)] = parse_reclaimable(line.substr(tab + 1));
  }
  return figures;
}

std::size_t line_count(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

void write_sized_file(const fs::path& path, std::size_t bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  const std::string block(1000, 'x');
  for (std::size_t i = 0; i < bytes / 1000; ++i) out << block;
  out << std::string(bytes % 1000, 'x');
}

class DockerDaemonTest : public testing::Test {
 protected:
  void SetUp() override {
    started_ = std::chrono::steady_clock::now();
    daemon_ = std::make_unique<PrivateDockerDaemon>();
    if (!daemon_->running()) GTEST_SKIP() << "no private docker daemon: " << daemon_->failure();
    host_ = std::make_unique<ScopedEnvironment>("DOCKER_HOST", daemon_->host());
  }

  void TearDown() override {
    host_.reset();
    daemon_.reset();
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_);
    std::cout << "[ figures  ] run time with daemon start and stop: " << seconds.count() << " s\n";
  }

  // An image made from a directory tree, as docker import makes it.
  void import_image(const fs::path& root, const std::string& name) {
    must({"/bin/sh", "-c", "tar -C \"$1\" -c . | docker import - \"$2\" >/dev/null", "sh",
          root.string(), name});
  }

  // A tree holding busybox, so that containers made from it really run.
  fs::path busybox_root() {
    const fs::path root = daemon_->scratch() / "busybox-root";
    fs::create_directories(root / "bin");
    fs::copy_file(kBusybox, root / "bin" / "busybox");
    for (const char* tool : {"sh", "dd", "mkdir"})
      fs::create_symlink("busybox", root / "bin" / tool);
    return root;
  }

  // A tree with one file of `bytes` bytes: its image's size is exactly that.
  fs::path data_root(const std::string& name, std::size_t bytes) {
    const fs::path root = daemon_->scratch() / name;
    write_sized_file(root / "data", bytes);
    return root;
  }

  std::unique_ptr<PrivateDockerDaemon> daemon_;
  std::unique_ptr<ScopedEnvironment> host_;
  std::chrono::steady_clock::time_point started_;
};

// A stopped container with 1 MB in its own layer, 2 MB in a named volume and 3 MB in an
// anonymous one, and a created container that never ran.
void make_containers() {
  must({"docker", "run", "--name", "sorvik-stopped", "-v", "sorvik-named:/named", "-v", "/anon",
        "sorvik/base:1", "/bin/sh", "-c",
        "dd if=/dev/zero of=/layer bs=1000 count=1000 2>/dev/null && "
        "dd if=/dev/zero of=/named/data bs=1000 count=2000 2>/dev/null && "
        "dd if=/dev/zero of=/anon/data bs=1000 count=3000 2>/dev/null"});
  must({"docker", "create", "--name", "sorvik-created", "sorvik/base:1", "/bin/sh"});
}

// What a prune frees and what `docker system df` predicts it to free agree where no build cache
// holds on to image layers, so the fixtures here make none.
TEST_F(DockerDaemonTest, EachPruneFreesWhatDockerReports) {
  import_image(busybox_root(), "sorvik/base:1");
  // Importing the same tag again with other content leaves the first image dangling.
  import_image(data_root("first", 1'500'000), "sorvik/data:1");
  import_image(data_root("second", 700'000), "sorvik/data:1");
  make_containers();

  struct Step {
    std::string option;
    std::string df_type;  // whose "Reclaimable" figure the prune should free; empty: see below
    std::vector<std::string> left_listing;  // must list nothing afterwards
  };
  const std::vector<Step> steps = {
      {"dangling_images", "", {"docker", "image", "ls", "-q", "-f", "dangling=true"}},
      {"stopped_containers", "Containers", {"docker", "ps", "-a", "-q"}},
      {"unused_volumes", "Local Volumes", {"docker", "volume", "ls", "-q"}},
      {"all_unused_images", "Images", {"docker", "image", "ls", "-a", "-q"}},
  };
  std::uint64_t total = 0;
  for (const auto& step : steps) {
    std::uint64_t expected = 0;
    if (step.df_type.empty()) {
      // No df row covers dangling images alone; docker's own listing sizes them.
      const std::string sizes =
          must({"docker", "image", "ls", "-f", "dangling=true", "--format", "{{.Size}}"});
      expected = sorvik_lib::strategies::docker::parse_reclaimable(sizes);
    } else {
      expected = reclaimable_by_type()[step.df_type];
    }
    const CleanResult result = helper_clean({step.option});
    EXPECT_EQ(result.removed, std::vector<std::string>{"managed://docker/" + step.option});
    EXPECT_TRUE(result.errors.empty()) << result.errors.front().message;
    EXPECT_EQ(result.bytesFreed, expected) << step.option;
    std::cout << "[ figures  ] " << step.option << ": helper freed " << result.bytesFreed
              << " B, docker listed " << expected << " B as reclaimable\n";
    total += result.bytesFreed;
    if (!step.left_listing.empty()) {
      EXPECT_EQ(must(step.left_listing), "") << step.option;
    }
    if (!step.df_type.empty()) {
      EXPECT_EQ(reclaimable_by_type()[step.df_type], 0u) << step.option;
    }
  }
  // The fixtures' sizes are known exactly, but for busybox's.
  EXPECT_GT(total, 1'500'000u + 1'000'000u + 5'000'000u + 700'000u);
  std::cout << "[ figures  ] all prunes together: " << total << " B\n";
  EXPECT_EQ(line_count(must({"docker", "system", "df", "--format", "{{.Type}} {{.TotalCount}}"})),
            4u);

  // Everything is gone: the same five prunes again succeed and free nothing.
  const CleanResult again = helper_clean({"dangling_images", "build_cache", "stopped_containers",
                                          "all_unused_images", "unused_volumes"});
  EXPECT_EQ(again.removed.size(), 5u);
  EXPECT_TRUE(again.errors.empty());
  EXPECT_EQ(again.bytesFreed, 0u);
}

TEST_F(DockerDaemonTest, BuildCachePruneFreesWhatDockerReports) {
  import_image(busybox_root(), "sorvik/base:1");
  const fs::path context = daemon_->scratch() / "context";
  fs::create_directories(context);
  std::ofstream(context / "Dockerfile")
      << "FROM sorvik/base:1\nRUN dd if=/dev/zero of=/built bs=1000 count=300 2>/dev/null\n";
  {
    ScopedEnvironment buildkit("DOCKER_BUILDKIT", "1");
    must({kBuilderCli, "build", "--network=none", "-q", "-t", "sorvik/built:1", context.string()});
  }
  // Without the image the builder made, its cache is all that is left of the build.
  must({"docker", "rmi", "sorvik/built:1"});
  const std::uint64_t expected = reclaimable_by_type()["Build Cache"];
  EXPECT_GE(expected, 300'000u);
  const CleanResult result = helper_clean({"build_cache"});
  EXPECT_EQ(result.removed, std::vector<std::string>{"managed://docker/build_cache"});
  EXPECT_TRUE(result.errors.empty());
  EXPECT_EQ(result.bytesFreed, expected);
  std::cout << "[ figures  ] build_cache: helper freed " << result.bytesFreed
            << " B, docker listed " << expected << " B as reclaimable\n";
  EXPECT_EQ(reclaimable_by_type()["Build Cache"], 0u);
}

TEST_F(DockerDaemonTest, OneRequestPrunesEverythingInOrder) {
  import_image(busybox_root(), "sorvik/base:1");
  import_image(data_root("first", 1'500'000), "sorvik/data:1");
  import_image(data_root("second", 700'000), "sorvik/data:1");
  make_containers();
  const CleanResult result = helper_clean(
      {"stopped_containers", "unused_volumes", "dangling_images", "all_unused_images"});
  EXPECT_EQ(result.removed,
            (std::vector<std::string>{
                "managed://docker/stopped_containers", "managed://docker/unused_volumes",
                "managed://docker/dangling_images", "managed://docker/all_unused_images"}));
  EXPECT_TRUE(result.errors.empty());
  // Container layer, both volumes, the dangling image, and the tagged images (busybox included).
  EXPECT_GT(result.bytesFreed, 1'000'000u + 5'000'000u + 1'500'000u + 700'000u);
  std::cout << "[ figures  ] one request of four prunes freed " << result.bytesFreed << " B\n";
  EXPECT_EQ(must({"docker", "ps", "-a", "-q"}), "");
  EXPECT_EQ(must({"docker", "volume", "ls", "-q"}), "");
  EXPECT_EQ(must({"docker", "image", "ls", "-a", "-q"}), "");
}

TEST_F(DockerDaemonTest, ProbeFindsTheDaemon) {
  EXPECT_EQ(DockerStrategy().probe(), ProbeResult::Available);
}

TEST_F(DockerDaemonTest, CleanupOptionsAreSizedFromSystemDf) {
  import_image(busybox_root(), "sorvik/base:1");
  import_image(data_root("first", 1'500'000), "sorvik/data:1");
  import_image(data_root("second", 700'000), "sorvik/data:1");
  make_containers();
  const auto figures = reclaimable_by_type();
  const auto options = DockerStrategy().get_cleanup_options();
  ASSERT_TRUE(options) << options.error().display_text();
  ASSERT_EQ(options->size(), 5u);
  const std::vector<std::string> ids = {"dangling_images", "build_cache", "stopped_containers",
                                        "all_unused_images", "unused_volumes"};
  for (std::size_t i = 0; i < ids.size(); ++i) EXPECT_EQ((*options)[i].id, ids[i]);
  EXPECT_EQ((*options)[0].reclaimableBytes, 1'500'000u);
  EXPECT_EQ((*options)[1].reclaimableBytes, figures.at("Build Cache"));
  EXPECT_EQ((*options)[2].reclaimableBytes, figures.at("Containers"));
  EXPECT_EQ((*options)[2].reclaimableBytes, 1'000'000u);
  EXPECT_EQ((*options)[3].reclaimableBytes, figures.at("Images"));
  EXPECT_EQ((*options)[4].reclaimableBytes, figures.at("Local Volumes"));
  for (const auto& option : *options) {
    std::cout << "[ figures  ] " << option.id << ": " << option.reclaimableBytes << " B\n";
  }
}

// No daemon is needed to see what happens when none answers.
TEST(DockerWithoutDaemon, EachPruneFailsWithDockersStandardError) {
  TempDir dir;
  ScopedEnvironment host("DOCKER_HOST", "unix://" + (dir / "absent.sock").string());
  const std::vector<std::string> options = {"dangling_images", "build_cache", "stopped_containers",
                                            "all_unused_images", "unused_volumes"};
  const CleanResult result = helper_clean(options);
  EXPECT_TRUE(result.removed.empty());
  EXPECT_EQ(result.bytesFreed, 0u);
  ASSERT_EQ(result.errors.size(), options.size());
  const std::vector<std::vector<std::string>> prunes = {{"docker", "image", "prune", "-f"},
                                                        {"docker", "builder", "prune", "-f"},
                                                        {"docker", "container", "prune", "-f"},
                                                        {"docker", "image", "prune", "-a", "-f"},
                                                        {"docker", "volume", "prune", "-f"}};
  for (std::size_t i = 0; i < options.size(); ++i) {
    const CommandRun direct = command(prunes[i]);
    EXPECT_FALSE(direct.ok);
    EXPECT_EQ(result.errors[i].path, "managed://docker/" + options[i]);
    EXPECT_EQ(result.errors[i].message, direct.error);
    EXPECT_NE(result.errors[i].message.find("absent.sock"), std::string::npos);
  }
  EXPECT_EQ(DockerStrategy().probe(), ProbeResult::Unavailable);
  const auto listed = DockerStrategy().get_cleanup_options();
  ASSERT_FALSE(listed);
  EXPECT_EQ(listed.error().display_text(), "Command failed: docker system df failed");
}

}  // namespace
}  // namespace sorvik_test
