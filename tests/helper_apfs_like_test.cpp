// The real helper on the suite's APFS-like filesystem (FUSE), where names fold case and Unicode
// form as on a Mac's default volume: kept roots spelled another way, system roots by another case
// in a throwaway root on it, large trees under a listing that skips entries as they are deleted,
// and entries protected as SIP protects them. Each test first shows that the volume folds.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <set>

#include "sorvik_lib/types/wire.hpp"
#include "support/apfs_like_mount.hpp"
#include "support/file_tree.hpp"
#include "support/helper_chroot.hpp"
#include "support/helper_process.hpp"

namespace sorvik_test {
namespace {

namespace fs = std::filesystem;
using sorvik_lib::types::CleanResult;
using sorvik_lib::types::ErrorEntry;

// "Café" composed (NFC) and decomposed (NFD), and in capitals.
const std::string kCafeComposed = "Caf\u00e9";
const std::string kCafeDecomposed = "Cafe\u0301";
const std::string kCafeCapitals = "CAF\u00c9";
const std::string kRefused = "Operation not permitted (os error 1)";

// A fresh APFS-like volume mounted under a temporary directory for one test.
class Volume {
 public:
  explicit Volume(ApfsLikeOptions options = {}) : mount_(mount_point(dir_), options) {}

  [[nodiscard]] const std::optional<std::string>& unavailable() const {
    return mount_.unavailable();
  }
  [[nodiscard]] const ApfsLikeMount& mount() const { return mount_; }
  [[nodiscard]] fs::path operator/(std::string_view name) const { return mount_.path() / name; }

 private:
  static fs::path mount_point(const TempDir& dir) {
    fs::create_directory(dir / "volume");
    return dir / "volume";
  }

  TempDir dir_;
  ApfsLikeMount mount_;
};

CleanResult clean(const std::vector<std::string>& paths, const std::vector<std::string>& keep) {
  const auto ran = run_helper(elevated_request(paths, keep));
  EXPECT_EQ(ran.error, "");
  EXPECT_TRUE(ran.status.success()) << ran.status.to_string();
  return decode_exact(ran.output);
}

// What open(O_CREAT | O_EXCL) of `path` fails with (0 when it creates the file).
int exclusive_create_error(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return errno;
  ::close(fd);
  return 0;
}

std::set<std::string> names_in(const fs::path& directory) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// A kept root holding 30 bytes in two files, one of them in a folder.
fs::path make_kept(const fs::path& root) {
  fs::create_directories(root / "sub");
  write_file(root / "a", std::string(10, 'a'));
  write_file(root / "sub/b", std::string(20, 'b'));
  return root;
}

// One pass over the listing of `directory` that deletes each entry as it reads it, as the
// helper's walk does; how many entries it did not see.
std::size_t left_after_one_deleting_pass(const fs::path& directory) {
  DIR* listing = ::opendir(directory.c_str());
  if (listing == nullptr) return static_cast<std::size_t>(-1);
  while (const struct dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") ::unlinkat(::dirfd(listing), name.c_str(), 0);
  }
  ::closedir(listing);
  return names_in(directory).size();
}

TEST(ApfsLikeVolume, FoldsCaseAndUnicodeFormsButKeepsEachName) {
  Volume volume;
  if (volume.unavailable()) GTEST_SKIP() << *volume.unavailable();
  fs::create_directory(volume / "Caches");
  write_file(volume / kCafeComposed, "12345");
  write_file(volume / "Stra\u00dfe", "1");
  EXPECT_TRUE(fs::equivalent(volume / "CACHES", volume / "Caches"));
  EXPECT_TRUE(fs::equivalent(volume / "caches", volume / "Caches"));
  EXPECT_TRUE(fs::equivalent(volume / kCafeDecomposed, volume / kCafeComposed));
  EXPECT_TRUE(fs::equivalent(volume / kCafeCapitals, volume / kCafeComposed));
  // Full case folding: "ß" is "ss".
  EXPECT_TRUE(fs::equivalent(volume / "STRASSE", volume / "Stra\u00dfe"));
  EXPECT_EQ(exclusive_create_error(volume / "CACHES"), EEXIST);
  EXPECT_EQ(exclusive_create_error(volume / kCafeDecomposed), EEXIST);
  EXPECT_EQ(::mkdir((volume / "caches").c_str(), 0755) == 0 ? 0 : errno, EEXIST);
  EXPECT_EQ(names_in(volume / ""), (std::set<std::string>{"Caches", kCafeComposed, "Stra\u00dfe"}));
  EXPECT_EQ(fs::file_size(volume / kCafeDecomposed), 5u);

  // A device of its own, and inode numbers that stay with their entry.
  struct stat before = {};
  struct stat after = {};
  struct stat outside = {};
  ASSERT_EQ(::stat((volume / "Caches").c_str(), &before), 0);
  ASSERT_EQ(::stat(volume.mount().path().parent_path().c_str(), &outside), 0);
  EXPECT_NE(before.st_dev, outside.st_dev);
  fs::remove(volume / "STRASSE");
  ASSERT_EQ(::stat((volume / "CACHES").c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
}

TEST(ApfsLikeVolume, ProtectsMarkedEntriesAndShiftsItsListingAsAsked) {
  Volume volume({Listing::Shifting, 64});
  if (volume.unavailable()) GTEST_SKIP() << *volume.unavailable();
  fs::create_directory(volume / "Sealed");
  write_file(volume / "Locked", "1");
  ASSERT_EQ(volume.mount().protect(volume / "Sealed"), std::nullopt);
  ASSERT_EQ(volume.mount().protect(volume / "Locked"), std::nullopt);
  EXPECT_EQ(::rmdir((volume / "SEALED").c_str()) == 0 ? 0 : errno, EPERM);
  EXPECT_EQ(::unlink((volume / "locked").c_str()) == 0 ? 0 : errno, EPERM);
  EXPECT_EQ(names_in(volume / ""), (std::set<std::string>{"Locked", "Sealed"}));

  // One pass of listing while deleting misses entries, no more than the limit, and a few more
  // passes find the rest. The directory holds more than the kernel lists in one batch.
  fs::create_directory(volume / "many");
  ASSERT_EQ(volume.mount().fill(volume / "many", 3000, 10), std::nullopt);
  std::vector<std::size_t> left = {left_after_one_deleting_pass(volume / "many")};
  EXPECT_GT(left.front(), 0u);
  EXPECT_LE(left.front(), 64u);
  while (left.back() != 0 && left.size() < 8) {
    left.push_back(left_after_one_deleting_pass(volume / "many"));
  }
  EXPECT_EQ(left.back(), 0u) << "left after each pass: " << ::testing::PrintToString(left);
}

TEST(HelperOnApfsLikeVolume, KeptRootsSpelledInAnotherCaseOrFormAreEmptied) {
  Volume volume;
  if (volume.unavailable()) GTEST_SKIP() << *volume.unavailable();
  make_kept(volume / "Caches");
  make_kept(volume / kCafeComposed);
  make_kept(volume / "Logs");
  ASSERT_TRUE(fs::equivalent(volume / "CACHES", volume / "Caches"));
  ASSERT_TRUE(fs::equivalent(volume / kCafeDecomposed, volume / kCafeComposed));

  const std::vector<std::string> paths = {(volume / "CACHES").string(),
                                          (volume / kCafeDecomposed).string(),
                                          (volume / "logs").string()};
  EXPECT_EQ(clean(paths, {(volume / "Caches").string(), (volume / kCafeComposed).string(),
                          (volume / "LOGS").string()}),
            (CleanResult{paths, {}, 90}));
  EXPECT_EQ(names_in(volume / ""), (std::set<std::string>{"Caches", kCafeComposed, "Logs"}));
  for (const auto& kept : {"Caches", "Logs"}) EXPECT_TRUE(fs::is_empty(volume / kept)) << kept;
  EXPECT_TRUE(fs::is_empty(volume / kCafeComposed));
}

// A kept root that is a link is emptied through it whichever way the path spells the link.
TEST(HelperOnApfsLikeVolume, AKeptLinkNamedInAnotherCaseIsEmptiedThroughIt) {
  Volume volume;
  if (volume.unavailable()) GTEST_SKIP() << *volume.unavailable();
  make_kept(volume / "target");
  fs::create_directory_symlink("target", volume / "Link");
  ASSERT_TRUE(fs::equivalent(volume / "LINK", volume / "Link"));
  const std::string link = (volume / "Link").string();
  EXPECT_EQ(clean({link}, {link}), (CleanResult{{link}, {}, 30}));
  EXPECT_TRUE(fs::is_symlink(volume / "Link"));
  EXPECT_TRUE(fs::is_empty(volume / "target"));

  make_kept(volume / "target");
  const std::string other_case = (volume / "LINK").string();
  EXPECT_EQ(clean({other_case}, {link}), (CleanResult{{other_case}, {}, 30}));
  EXPECT_TRUE(fs::is_symlink(volume / "Link"));
  EXPECT_TRUE(fs::is_empty(volume / "target"));
}

TEST(HelperOnApfsLikeVolume, SystemRootsByAnotherCaseAreRefusedInARootOnTheVolume) {
  HelperChroot chroot(RootShape::MacOSApfsLike);
  if (chroot.unavailable()) GTEST_SKIP() << *chroot.unavailable();
  ASSERT_TRUE(fs::equivalent(chroot.host_path("/USR"), chroot.host_path("/usr")));
  ASSERT_TRUE(fs::equivalent(chroot.host_path("/users"), chroot.host_path("/Users")));
  write_file(chroot.host_path("/scratch/Junk"), std::string(10, 'j'));
  const std::vector<std::string> refused = {
      "/USR",          "/users", "/SYSTEM/",      "/library/.", "/system/volumes/data",
      "/Private/Var/", "/VAR",   "/APPLICATIONS", "/SBIN"};
  std::vector<std::string> paths = refused;
  paths.push_back("/SCRATCH/junk");
  const auto ran = chroot.run(elevated_request(paths));
  EXPECT_EQ(ran.process.error, "");
  ASSERT_TRUE(ran.process.status.success()) << ran.process.status.to_string();
  auto result = decode_exact(ran.process.output);
  std::ranges::sort(result.errors, {}, &ErrorEntry::path);
  std::vector<ErrorEntry> refusals;
  for (const auto& path : refused) refusals.push_back({path, "Path is forbidden: " + path});
  std::ranges::sort(refusals, {}, &ErrorEntry::path);
  EXPECT_EQ(result, (CleanResult{{"/SCRATCH/junk"}, refusals, 10}));
  EXPECT_EQ(chroot.damaged_markers(), std::vector<std::string>{});
}

// 5,000 files each in a removed tree and a kept root, while every listing of theirs skips entries
// as they are deleted: all goes, with the exact bytes.
TEST(HelperOnApfsLikeVolume, LargeTreesUnderAShiftingListingGoWithExactBytes) {
  Volume volume({Listing::Shifting, 64});
  if (volume.unavailable()) GTEST_SKIP() << *volume.unavailable();
  // Made by the filesystem itself: ten thousand creates through the kernel take long.
  std::uint64_t bytes = 0;
  for (const char* tree : {"Tree", "Kept"}) {
    for (const auto& [folder, count] : {std::pair{"", 4000u}, std::pair{"deeper", 1000u}}) {
      const fs::path directory = volume / tree / folder;
      fs::create_directories(directory);
      ASSERT_EQ(volume.mount().fill(directory, count, 100), std::nullopt) << directory;
      for (unsigned i = 0; i < count; ++i) bytes += i % 100 + 1;
    }
  }
  ASSERT_EQ(count_tree(volume / "Tree").bytes, bytes / 2);
  ASSERT_TRUE(fs::equivalent(volume / "KEPT", volume / "Kept"));

  const std::vector<std::string> paths = {(volume / "tree").string(), (volume / "KEPT").string()};
  EXPECT_EQ(clean(paths, {(volume / "Kept").string()}), (CleanResult{paths, {}, bytes}));
  EXPECT_EQ(names_in(volume / ""), std::set<std::string>{"Kept"});
  EXPECT_TRUE(fs::is_empty(volume / "Kept"));
  // The helper's own listing did miss entries: they went on a later pass.
  EXPECT_GT(volume.mount().missed_in(volume / "Kept").value_or(0), 0u);
}

TEST(HelperOnApfsLikeVolume, ProtectedEntriesFailAloneAndOnlyWhatWentIsCredited) {
  Volume volume;
  if (volume.unavailable()) GTEST_SKIP() << *volume.unavailable();
  for (const char* folder : {"Tree/deeper", "Kept/deeper"}) {
    fs::create_directories(volume / folder);
    for (int i = 0; i < 20; ++i) write_file(volume / folder / std::to_string(i), "12345");
  }
  write_file(volume / "Tree/deeper/Protected", std::string(100, 'p'));
  write_file(volume / "Kept/Protected", std::string(100, 'p'));
  fs::create_directory(volume / "Kept/Sealed");
  write_file(volume / "File", std::string(100, 'f'));
  for (const char* entry : {"Tree/deeper/Protected", "Kept/Protected", "Kept/Sealed", "File"}) {
    ASSERT_EQ(volume.mount().protect(volume / entry), std::nullopt) << entry;
  }
  ASSERT_TRUE(fs::equivalent(volume / "KEPT/SEALED", volume / "Kept/Sealed"));

  const std::string tree = (volume / "tree").string();
  const std::string kept = (volume / "KEPT").string();
  const std::string file = (volume / "file").string();
  const auto result = clean({tree, kept, file}, {(volume / "Kept").string()});
  const TreeCount tree_left = count_tree(volume / "Tree");
  EXPECT_TRUE(fs::exists(volume / "Tree/deeper/Protected"));
  EXPECT_EQ(names_in(volume / "Kept"), (std::set<std::string>{"Protected", "Sealed"}));
  EXPECT_TRUE(fs::exists(volume / "File"));
  // Entries inside the kept root are named as the volume lists them.
  EXPECT_EQ(result, (CleanResult{{kept},
                                 {{tree, kRefused},
                                  {kept + "/Protected", kRefused},
                                  {kept + "/Sealed", kRefused},
                                  {file, kRefused}},
                                 (200 - tree_left.bytes) + 100}));
}

}  // namespace
}  // namespace sorvik_test
