// The table and the JSON of docker's cleanup options.
#include "options_format.hpp"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "text_table.hpp"

namespace sorvik_cli {
namespace {

using sorvik_lib::types::CleanupOption;
using sorvik_lib::types::RiskLevel;

std::vector<CleanupOption> docker_options() {
  return {
      {"dangling_images", "Dangling images",
       "Remove untagged images not referenced by any container", 1'500'000, RiskLevel::Low},
      {"build_cache", "Build cache", "Remove BuildKit layer cache", 0, RiskLevel::Low},
      {"stopped_containers", "Stopped containers", "Remove exited containers and their logs",
       1'000'000, RiskLevel::Medium},
      {"all_unused_images", "All unused images",
       "Remove all images not used by a running container", 2'200'000'000, RiskLevel::Medium},
      {"unused_volumes", "Unused volumes",
       "Remove volumes not attached to any container (may contain data)", 5'000, RiskLevel::High},
  };
}

TEST(OptionsTable, OneRowPerOptionAndATotal) {
  EXPECT_EQ(
      format_options_table(docker_options()),
      "ID                  LABEL               RISK    RECLAIMABLE  DESCRIPTION\n"
      "dangling_images     Dangling images     Low           1.5MB  Remove untagged images not "
      "referenced by any container\n"
      "build_cache         Build cache         Low              0B  Remove BuildKit layer cache\n"
      "stopped_containers  Stopped containers  Medium          1MB  Remove exited containers and "
      "their logs\n"
      "all_unused_images   All unused images   Medium        2.2GB  Remove all images not used by "
      "a running container\n"
      "unused_volumes      Unused volumes      High            5kB  Remove volumes not attached to "
      "any container (may contain data)\n"
      "Total                                               2.201GB  Every option (dangling images "
      "counted within all unused images)\n");
}

TEST(OptionsTable, TheTotalCountsDanglingImagesOnce) {
  auto options = docker_options();
  EXPECT_EQ(total_reclaimable(options), 2'200'000'000u + 1'000'000u + 5'000u);
  // Without the option that holds them, dangling images count on their own.
  options.erase(options.begin() + 3);
  EXPECT_EQ(total_reclaimable(options), 1'500'000u + 1'000'000u + 5'000u);
  EXPECT_EQ(total_reclaimable({}), 0u);
}

TEST(OptionsTable, TheTotalSaturates) {
  auto options = docker_options();
  options[1].reclaimableBytes = UINT64_MAX - 1;  // build cache
  options[4].reclaimableBytes = 2;               // unused volumes
  EXPECT_EQ(total_reclaimable(options), UINT64_MAX);
  // Saturated, the total stays full: dangling images are left out, never taken off.
  options[0].reclaimableBytes = UINT64_MAX;
  EXPECT_EQ(total_reclaimable(options), UINT64_MAX);
}

TEST(OptionsJson, RecordFieldNamesAndRiskByName) {
  const auto json = options_to_json(docker_options());
  ASSERT_EQ(json.size(), 5u);
  EXPECT_EQ(json[0].dump(),
            R"({"description":"Remove untagged images not referenced by any container",)"
            R"("id":"dangling_images","label":"Dangling images","reclaimableBytes":1500000,)"
            R"("risk":"Low"})");
  EXPECT_EQ(json[2]["risk"], "Medium");
  EXPECT_EQ(json[4]["risk"], "High");
  EXPECT_EQ(options_to_json({}).dump(), "[]");
}

TEST(TextTable, AlignsByDisplayWidthAndTrimsLineEnds) {
  const std::vector<TableRow> rows = {
      {"a", "1", "x"}, {"\xe6\x97\xa5\xe6\x9c\xac", "100", ""}, {"bbbbb", "10"}};
  constexpr std::array kAlign = {Align::Left, Align::Right};
  EXPECT_EQ(layout_table(rows, kAlign),
            "a        1  x\n"
            "\xe6\x97\xa5\xe6\x9c\xac   100\n"
            "bbbbb   10\n");
}

}  // namespace
}  // namespace sorvik_cli
