// Directories whose listing misses entries while they are emptied, as on APFS and HFS+: the real
// helper runs with a preloaded stand-in that makes every listing read after a deletion leave out
// every second entry, and must still remove every tree and empty every kept root it is given.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "sorvik_lib/types/wire.hpp"
#include "support/helper_process.hpp"

namespace sorvik_test {
namespace {

namespace fs = std::filesystem;
using sorvik_lib::types::CleanResult;

#if defined(SORVIK_LISTING_SKIPPER_PATH)

// `count` files of `bytes` each in `directory`, with names long enough that a listing batch of
// the stand-in holds only a handful.
std::uint64_t fill(const fs::path& directory, int count, std::size_t bytes) {
  fs::create_directories(directory);
  for (int i = 0; i < count; ++i) {
    write_file(directory / ("a-file-name-of-some-length-" + std::to_string(i)),
               std::string(bytes, 'x'));
  }
  return static_cast<std::uint64_t>(count) * bytes;
}

TEST(HelperRelisting, ListingsThatMissEntriesAreReadAgainUntilNothingIsLeft) {
  TempDir dir(fast_temp_directory());
  std::uint64_t total = fill(dir / "tree", 150, 10);
  for (const char* sub : {"tree/a", "tree/b/deeper", "kept/sub"}) total += fill(dir / sub, 120, 3);
  total += fill(dir / "kept", 200, 7);

  const char* sanitizer_options = std::getenv("ASAN_OPTIONS");
  const auto ran =
      run("env",
          {std::string("LD_PRELOAD=") + SORVIK_LISTING_SKIPPER_PATH,
           // The stand-in comes before a sanitizer runtime, which would otherwise refuse to run.
           std::string("ASAN_OPTIONS=") + (sanitizer_options ? sanitizer_options : "") +
               ":verify_asan_link_order=0",
           kHelperPath},
          elevated_request({(dir / "tree").string(), (dir / "kept").string()},
                           {(dir / "kept").string()}));
  EXPECT_EQ(ran.error, "");
  ASSERT_TRUE(ran.status.success()) << ran.status.to_string();
  EXPECT_EQ(decode_exact(ran.output),
            (CleanResult{{(dir / "tree").string(), (dir / "kept").string()}, {}, total}));
  EXPECT_FALSE(fs::exists(dir / "tree"));
  EXPECT_TRUE(fs::is_empty(dir / "kept"));
}

#endif

}  // namespace
}  // namespace sorvik_test
