// The program look-up: only absolute entries of PATH, in order, and nothing without a PATH.
#include "sorvik_lib/sys/search_path.hpp"

#include <gtest/gtest.h>

namespace sorvik_lib::sys {
namespace {

using Candidates = std::vector<std::string>;

TEST(SearchPath, OnlyAbsoluteEntriesInOrder) {
  EXPECT_EQ(program_candidates("docker", "/usr/local/bin:/usr/bin:/bin"),
            (Candidates{"/usr/local/bin/docker", "/usr/bin/docker", "/bin/docker"}));
  // Empty entries (leading, trailing, doubled) and relative ones would be the working directory.
  EXPECT_EQ(program_candidates("docker", ":/a::bin:./b:../c:/d/:"),
            (Candidates{"/a/docker", "/d/docker"}));
  EXPECT_EQ(program_candidates("docker", "/"), (Candidates{"/docker"}));
  EXPECT_EQ(program_candidates("docker", "//x//"), (Candidates{"//x/docker"}));
  EXPECT_EQ(program_candidates("docker", "/nodocker:"), (Candidates{"/nodocker/docker"}));
  EXPECT_EQ(program_candidates("docker", ""), Candidates{});
  EXPECT_EQ(program_candidates("docker", ":::"), Candidates{});
  EXPECT_EQ(program_candidates("docker", "."), Candidates{});
}

TEST(SearchPath, NoSearchPathFindsNothing) {
  // Not the C library's default list: without PATH nothing is searched.
  EXPECT_EQ(program_candidates("docker", std::nullopt), Candidates{});
  EXPECT_EQ(program_candidates("", "/usr/bin"), Candidates{});
}

TEST(SearchPath, ANameWithASlashIsTakenAsGiven) {
  EXPECT_EQ(program_candidates("/opt/docker", "/usr/bin"), (Candidates{"/opt/docker"}));
  EXPECT_EQ(program_candidates("./docker", std::nullopt), (Candidates{"./docker"}));
  EXPECT_EQ(program_candidates("bin/docker", ""), (Candidates{"bin/docker"}));
}

TEST(SearchPath, EnvironmentValue) {
  std::string path = "PATH=/bin";
  std::string empty = "PATH=";
  std::string near = "PATHS=/x";
  std::string other = "HOME=/root";
  char* both[] = {near.data(), other.data(), path.data(), empty.data(), nullptr};
  EXPECT_EQ(environment_value(both, "PATH"), "/bin");
  char* set_empty[] = {empty.data(), path.data(), nullptr};
  EXPECT_EQ(environment_value(set_empty, "PATH"), "");
  char* none[] = {near.data(), other.data(), nullptr};
  EXPECT_EQ(environment_value(none, "PATH"), std::nullopt);
  EXPECT_EQ(environment_value(nullptr, "PATH"), std::nullopt);
}

}  // namespace
}  // namespace sorvik_lib::sys
