// The prune command of each cleanup option and the space a prune reports.
#include "sorvik_lib/strategies/docker/prune.hpp"

#include <gtest/gtest.h>

namespace sorvik_lib::strategies::docker {
namespace {

using Command = std::vector<std::string>;

TEST(GetPruneCommand, TheFiveCommands) {
  EXPECT_EQ(get_prune_command("dangling_images"), (Command{"docker", "image", "prune", "-f"}));
  EXPECT_EQ(get_prune_command("build_cache"), (Command{"docker", "builder", "prune", "-f"}));
  EXPECT_EQ(get_prune_command("stopped_containers"),
            (Command{"docker", "container", "prune", "-f"}));
  EXPECT_EQ(get_prune_command("all_unused_images"),
            (Command{"docker", "image", "prune", "-a", "-f"}));
  EXPECT_EQ(get_prune_command("unused_volumes"), (Command{"docker", "volume", "prune", "-f"}));
}

TEST(GetPruneCommand, OnlyExactIdentifiers) {
  for (std::string_view id :
       {"Build_Cache", "build_cache ", " build_cache", "build", "images", "", "build_cache\n"}) {
    EXPECT_EQ(get_prune_command(id), std::nullopt) << id;
  }
  EXPECT_EQ(get_prune_command(std::string_view("build_cache\0", 12)), std::nullopt);
}

TEST(ParsePruneOutput, ReclaimedSpaceLine) {
  EXPECT_EQ(
      parse_prune_output("Deleted Images:\ndeleted: sha256:ab\n\nTotal reclaimed space: 1.5GB\n"),
      1500000000u);
  EXPECT_EQ(parse_prune_output("Total reclaimed space: 0B"), 0u);
  EXPECT_EQ(parse_prune_output("Total reclaimed space: 2.3kB\r\n"), 2300u);
  EXPECT_EQ(parse_prune_output("Total reclaimed space:512MiB"), 536870912u);
  EXPECT_EQ(parse_prune_output("Total reclaimed space: \t 56B \t"), 56u);
  EXPECT_EQ(parse_prune_output("Total reclaimed space: 1kB\r"), 1000u);  // trailing "\r" trimmed
}

TEST(ParsePruneOutput, NothingReadableGivesZero) {
  EXPECT_EQ(parse_prune_output(""), 0u);
  EXPECT_EQ(parse_prune_output("Deleted Containers:\nabc\n"), 0u);
  EXPECT_EQ(parse_prune_output("total reclaimed space: 1GB\n"), 0u);
  EXPECT_EQ(parse_prune_output(" Total reclaimed space: 1GB\n"), 0u);
  EXPECT_EQ(parse_prune_output("Total reclaimed space: lots\n"), 0u);
  EXPECT_EQ(parse_prune_output("Total reclaimed space: -1GB\n"), 0u);
}

TEST(ParsePruneOutput, FirstReclaimedLineDecides) {
  EXPECT_EQ(parse_prune_output("Total reclaimed space: 1kB\nTotal reclaimed space: 2kB\n"), 1000u);
  EXPECT_EQ(parse_prune_output("Total reclaimed space:\nTotal reclaimed space: 2kB\n"), 0u);
  EXPECT_EQ(parse_prune_output("Total reclaimed space: ?\nTotal reclaimed space: 2kB\n"), 0u);
}

TEST(ParsePruneOutput, BuildPluginTotalWhenNoReclaimedLine) {
  EXPECT_EQ(parse_prune_output("ID\tRECLAIMABLE\tSIZE\nabc\ttrue\t1.2GB\nTotal:\t1.2GB\n"),
            1200000000u);
  EXPECT_EQ(parse_prune_output("Total:\t1.2GB\nTotal:\t9GB\n"), 1200000000u);
  EXPECT_EQ(parse_prune_output("Total:\n"), 0u);
  EXPECT_EQ(parse_prune_output("Total:\tN/A\nTotal:\t9GB\n"), 0u);
  EXPECT_EQ(parse_prune_output("total:\t1.2GB\nTOTAL: 1GB\n"), 0u);
  // A reclaimed-space line anywhere wins over a "Total:" line before it.
  EXPECT_EQ(parse_prune_output("Total:\t9GB\nTotal reclaimed space: 1kB\n"), 1000u);
  EXPECT_EQ(parse_prune_output("Total:\t9GB\nTotal reclaimed space: ?\n"), 0u);
}

}  // namespace
}  // namespace sorvik_lib::strategies::docker
