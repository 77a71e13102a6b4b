// `sorvik docker probe|options|prune` against a real docker daemon of the test's own. Skipped,
// with the reason, where no daemon can be started.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>

#include "support/helper_process.hpp"
#include "support/private_docker_daemon.hpp"

namespace sorvik_test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

class CliWithDockerDaemon : public testing::Test {
 protected:
  void SetUp() override {
    daemon_ = std::make_unique<PrivateDockerDaemon>();
    if (!daemon_->running()) GTEST_SKIP() << "no private docker daemon: " << daemon_->failure();
    if (const char* old = ::getenv("DOCKER_HOST")) saved_host_ = old;
    ::setenv("DOCKER_HOST", daemon_->host().c_str(), 1);
  }

  void TearDown() override {
    if (saved_host_) {
      ::setenv("DOCKER_HOST", saved_host_->c_str(), 1);
    } else {
      ::unsetenv("DOCKER_HOST");
    }
    daemon_.reset();
  }

  // An image holding one file of `bytes` bytes, tagged `name`: its size is exactly that.
  void import_image(const std::string& directory, std::size_t bytes, const std::string& name) {
    const fs::path root = daemon_->scratch() / directory;
    fs::create_directories(root);
    write_file(root / "data", std::string(bytes, 'd'));
    const auto imported =
        run("/bin/sh", {"-c", "tar -C \"$1\" -c . | docker import - \"$2\" >/dev/null", "sh",
                        root.string(), name});
    ASSERT_TRUE(imported.status.success()) << imported.error;
  }

  std::unique_ptr<PrivateDockerDaemon> daemon_;
  std::optional<std::string> saved_host_;
};

TEST_F(CliWithDockerDaemon, ProbeOptionsAndPruneAgree) {
  const auto probe = run(kCliPath, {"docker", "probe"});
  EXPECT_EQ(probe.status.value, 0);
  EXPECT_TRUE(probe.output.starts_with("Available: ")) << probe.output;

  // Importing the same tag again leaves the first image dangling.
  import_image("first", 1'500'000, "sorvik/cli:1");
  import_image("second", 700'000, "sorvik/cli:1");

  const auto listed = run(kCliPath, {"docker", "options", "--json"});
  ASSERT_EQ(listed.status.value, 0) << listed.error;
  const json options = json::parse(listed.output);
  ASSERT_EQ(options.size(), 5u);
  EXPECT_EQ(options[0]["id"], "dangling_images");
  EXPECT_EQ(options[0]["reclaimableBytes"], 1'500'000);
  EXPECT_EQ(options[3]["id"], "all_unused_images");
  EXPECT_EQ(options[3]["reclaimableBytes"], 2'200'000);

  const auto table = run(kCliPath, {"docker", "options"});
  EXPECT_EQ(table.status.value, 0);
  EXPECT_NE(table.output.find("dangling_images     Dangling images     Low"), std::string::npos)
      << table.output;
  EXPECT_NE(table.output.find("1.5MB  Remove untagged images"), std::string::npos);
  EXPECT_NE(table.output.find("2.2MB  Every option"), std::string::npos) << table.output;

  const auto pruned = run(kCliPath, {"docker", "prune", "--json", "dangling_images"});
  EXPECT_EQ(pruned.status.value, 0) << pruned.output;
  EXPECT_EQ(json::parse(pruned.output), json::parse(R"({"removed":
      ["managed://docker/dangling_images"], "errors": [], "bytesFreed": 1500000})"));

  const auto again = run(kCliPath, {"docker", "prune", "dangling_images", "all_unused_images"});
  EXPECT_EQ(again.status.value, 0);
  EXPECT_EQ(again.output,
            "removed: 2\n  managed://docker/dangling_images\n  managed://docker/all_unused_images\n"
            "errors: 0\nbytes freed: 700000 (700kB)\n");
}

}  // namespace
}  // namespace sorvik_test
