// Managed docker requests through the real helper process, against stand-in docker programs that
// the helper finds on its search path.
#include <gtest/gtest.h>

#include <optional>

#include "sorvik_lib/types/wire.hpp"
#include "support/helper_process.hpp"
#include "support/stand_in_programs.hpp"

namespace sorvik_test {
namespace {

using sorvik_lib::types::CleanResult;
using sorvik_lib::types::ErrorEntry;
using Calls = std::vector<std::vector<std::string>>;

const std::vector<std::string> kDangling = {"docker", "image", "prune", "-f"};
const std::vector<std::string> kBuilder = {"docker", "builder", "prune", "-f"};
const std::vector<std::string> kContainers = {"docker", "container", "prune", "-f"};
const std::vector<std::string> kAllImages = {"docker", "image", "prune", "-a", "-f"};
const std::vector<std::string> kVolumes = {"docker", "volume", "prune", "-f"};

// The helper's answer to a docker request; it never writes to standard error and always exits 0
// on this road.
CleanResult clean(std::vector<std::string> options) {
  const auto run = run_helper(managed_request("docker", std::move(options)));
  EXPECT_EQ(run.error, "");
  EXPECT_TRUE(run.status.success()) << run.status.to_string();
  return decode_exact(run.output);
}

TEST(HelperManagedDocker, AllFivePrunesInRequestOrder) {
  StandInPrograms programs;
  programs.answer(kDangling,
                  "Deleted Images:\ndeleted: sha256:1\n\nTotal reclaimed space: 1.5GB\n");
  programs.answer(kBuilder, "ID\tRECLAIMABLE\tSIZE\nab\ttrue\t1.2GB\nTotal:\t1.2GB\n");
  programs.answer(kContainers, "Total reclaimed space: 2.3kB\r\n");
  programs.answer(kAllImages, "Total reclaimed space: 0B\n");
  programs.answer(kVolumes, "Deleted Volumes:\nv\n\nTotal reclaimed space: 5.12MB\n");
  const CleanResult result = clean({"dangling_images", "build_cache", "stopped_containers",
                                    "all_unused_images", "unused_volumes"});
  EXPECT_EQ(programs.calls(), (Calls{kDangling, kBuilder, kContainers, kAllImages, kVolumes}));
  EXPECT_EQ(result.removed,
            (std::vector<std::string>{
                "managed://docker/dangling_images", "managed://docker/build_cache",
                "managed://docker/stopped_containers", "managed://docker/all_unused_images",
                "managed://docker/unused_volumes"}));
  EXPECT_TRUE(result.errors.empty());
  EXPECT_EQ(result.bytesFreed, 1500000000u + 1200000000u + 2300u + 5120000u);
}

TEST(HelperManagedDocker, FailuresCarryDockersStandardError) {
  StandInPrograms programs;
  programs.answer(kContainers, "",
                  "Cannot connect to the Docker daemon at unix:///var/run/docker.sock. Is the "
                  "docker daemon running?\n",
                  1);
  programs.answer(kVolumes, "Total reclaimed space: 1kB\n");
  programs.answer_with_signal(kBuilder, "", "", "TERM");
  const CleanResult result = clean({"stopped_containers", "unused_volumes", "build_cache"});
  EXPECT_EQ(result.removed, std::vector<std::string>{"managed://docker/unused_volumes"});
  EXPECT_EQ(result.errors,
            (std::vector<ErrorEntry>{
                {"managed://docker/stopped_containers",
                 "Cannot connect to the Docker daemon at unix:///var/run/docker.sock. Is the "
                 "docker daemon running?\n"},
                {"managed://docker/build_cache", ""}}));
  EXPECT_EQ(result.bytesFreed, 1000u);
}

TEST(HelperManagedDocker, UnknownOptionRunsNothing) {
  StandInPrograms programs;
  programs.answer(kBuilder, "Total reclaimed space: 1kB\n");
  EXPECT_EQ(clean({"build_cache", "images"}),
            sorvik_lib::types::single_error_result(
                "managed://docker", "Command failed: Unknown cleanup option: images"));
  EXPECT_EQ(programs.calls(), Calls{});
}

TEST(HelperManagedDocker, DockerMissingFromThePath) {
  StandInPrograms programs;
  programs.remove("docker");
  EXPECT_EQ(clean({"dangling_images"}),
            sorvik_lib::types::single_error_result(
                "managed://docker", "Command failed: No such file or directory (os error 2)"));
}

TEST(HelperManagedDocker, NoOptionsGiveAnEmptyResult) {
  StandInPrograms programs;
  EXPECT_EQ(clean({}), CleanResult{});
  EXPECT_EQ(programs.calls(), Calls{});
}

TEST(HelperManagedDocker, MegabytesOfOutputOnBothPipes) {
  StandInPrograms programs;
  const std::string error(3 << 20, 'e');
  programs.answer(kDangling, std::string(4 << 20, 'o') + "\nTotal reclaimed space: 7B\n", error, 0);
  programs.answer(kAllImages, std::string(4 << 20, 'o'), error, 1);
  const CleanResult result = clean({"dangling_images", "all_unused_images"});
  EXPECT_EQ(result.removed, std::vector<std::string>{"managed://docker/dangling_images"});
  EXPECT_EQ(result.errors,
            (std::vector<ErrorEntry>{{"managed://docker/all_unused_images", error}}));
  EXPECT_EQ(result.bytesFreed, 7u);
}

TEST(HelperManagedDocker, RequestFileRoadRunsTheSamePrunes) {
  StandInPrograms programs;
  programs.answer(kVolumes, "Total reclaimed space: 2kB\n");
  TempDir dir;
  const auto request_file = dir / "request.bin";
  write_file(request_file, managed_request("docker", {"unused_volumes", "unused_volumes"}));
  const auto run = run_helper("", {request_file.string()});
  EXPECT_EQ(run.error, "");
  const CleanResult result = decode_exact(run.output);
  EXPECT_EQ(result.removed, (std::vector<std::string>{"managed://docker/unused_volumes",
                                                      "managed://docker/unused_volumes"}));
  EXPECT_EQ(result.bytesFreed, 4000u);
  EXPECT_FALSE(std::filesystem::exists(request_file));
}

// The root helper started in a directory holding a `docker` never runs it through an empty or
// relative entry of PATH, and without PATH finds no docker at all.
TEST(HelperManagedDocker, DockerIsNeverTakenFromTheWorkingDirectory) {
  StandInPrograms programs;
  programs.answer(kBuilder, "Total reclaimed space: 1kB\n");
  const auto not_found = sorvik_lib::types::single_error_result(
      "managed://docker", "Command failed: No such file or directory (os error 2)");
  for (const std::optional<std::string>& path :
       {std::optional<std::string>(""), std::optional<std::string>("/nonexistent:"),
        std::optional<std::string>(":/nonexistent"), std::optional<std::string>("."),
        std::optional<std::string>(std::nullopt)}) {
    const ScopedSearch search(path, programs.directory());
    EXPECT_EQ(clean({"build_cache"}), not_found) << "PATH " << path.value_or("unset");
  }
  EXPECT_EQ(programs.calls(), Calls{});
  // Its absolute entry, among empty ones, finds it.
  const ScopedSearch search("::" + programs.directory().string() + ":", "/");
  EXPECT_EQ(clean({"build_cache"}).bytesFreed, 1000u);
  EXPECT_EQ(programs.calls(), Calls{kBuilder});
}

}  // namespace
}  // namespace sorvik_test
