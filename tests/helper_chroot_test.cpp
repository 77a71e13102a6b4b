// The forbidden roots, end to end: the real helper runs inside a throwaway root directory that
// the test builds (the helper, its shared libraries, and marked system folders), so that "/",
// "//" or "/usr/" reach a real helper without ever naming anything of the host.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <sstream>

#include "sorvik_lib/types/wire.hpp"
#include "support/helper_process.hpp"

namespace sorvik_test {
namespace {

namespace fs = std::filesystem;
using sorvik_lib::types::CleanResult;
using sorvik_lib::types::ErrorEntry;

const char* const kSystemFolders[] = {"usr", "usr/local", "etc",  "var",
                                      "tmp", "bin",       "home", "root"};

// The absolute library path of one line of ldd's listing ("libx.so => /lib/libx.so (0x...)" or
// "/lib64/ld-linux-x86-64.so.2 (0x...)"), or nothing for lines without one.
std::string library_of(std::string_view line) {
  const auto address = line.find(" (0x");
  if (address == std::string_view::npos) return {};
  line = line.substr(0, address);
  if (const auto arrow = line.find("=> "); arrow != std::string_view::npos) {
    line = line.substr(arrow + 3);
  }
  line.remove_prefix(std::min(line.find_first_not_of(" \t"), line.size()));
  return line.starts_with('/') ? std::string(line) : std::string();
}

// Copies the helper and every shared library ldd names into `root`, at the same places. Tells
// whether the helper carries a sanitizer runtime, which needs /proc.
void install_helper(const fs::path& root, bool& sanitized) {
  fs::copy_file(kHelperPath, root / "sorvik_helper");
  const auto listed = run("ldd", {kHelperPath});
  ASSERT_TRUE(listed.status.success()) << listed.error;
  std::istringstream lines(listed.output);
  for (std::string line; std::getline(lines, line);) {
    const fs::path source = library_of(line);
    if (source.empty()) continue;
    if (source.filename().string().find("san.so") != std::string::npos) sanitized = true;
    const fs::path target = root / source.relative_path();
    fs::create_directories(target.parent_path());
    fs::copy_file(source, target, fs::copy_options::overwrite_existing);
  }
}

// /proc mounted inside the throwaway root for as long as the test runs; unmounted before the
// root's removal, which must never descend into it.
class ProcMount {
 public:
  explicit ProcMount(const fs::path& root) : target_(root / "proc") {
    fs::create_directory(target_);
    mounted_ =
        ::mount("proc", target_.c_str(), "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) == 0;
  }
  ~ProcMount() {
    if (mounted_) ::umount2(target_.c_str(), MNT_DETACH);
  }
  ProcMount(const ProcMount&) = delete;
  ProcMount& operator=(const ProcMount&) = delete;

  [[nodiscard]] bool mounted() const { return mounted_; }

 private:
  fs::path target_;
  bool mounted_ = false;
};

TEST(HelperChroot, ForbiddenRootsByAnySpellingSurvive) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to build and enter a chroot";
  TempDir dir;
  const fs::path root = dir.path();
  fs::permissions(root, fs::perms(0755));
  bool sanitized = false;
  ASSERT_NO_FATAL_FAILURE(install_helper(root, sanitized));
  std::optional<ProcMount> proc;
  if (sanitized) {
    proc.emplace(root);
    if (!proc->mounted())
      GTEST_SKIP() << "a sanitizer runtime needs /proc, which cannot be mounted";
  }
  write_file(root / "marker", "root");
  for (const char* folder : kSystemFolders) {
    fs::create_directories(root / folder);
    write_file(root / folder / "marker", folder);
  }
  fs::create_directories(root / "tmp/scratch");
  write_file(root / "tmp/scratch/junk", std::string(10, 'j'));
  write_file(root / "usr/local/junk", std::string(20, 'j'));
  // Relative links, so that they name the same places inside the chroot and outside it: "/" and
  // "/usr" inside, this test's own directories outside.
  fs::create_directory_symlink(".", root / "link-to-root");
  fs::create_directory_symlink("usr", root / "link-to-usr");

  const std::vector<std::string> refused = {
      "/",    "//",       "/usr/", "/./usr", "/etc//", "/link-to-root", "/link-to-usr/",
      "/tmp", "///tmp/.", "/var/"};
  std::vector<std::string> paths = refused;
  paths.insert(paths.begin() + 3, "/tmp/scratch");
  paths.push_back("/usr/local/junk");
  const auto ran = run("chroot", {root.string(), "/sorvik_helper"}, elevated_request(paths));
  if (ran.status.value == 125 && ran.output.empty()) {
    GTEST_SKIP() << "chroot is not possible here: " << ran.error;
  }
  EXPECT_EQ(ran.error, "");
  ASSERT_TRUE(ran.status.success()) << ran.status.to_string();
  const auto result = decode_exact(ran.output);

  std::vector<ErrorEntry> refusals;
  for (const auto& path : refused) refusals.push_back({path, "Path is forbidden: " + path});
  EXPECT_EQ(result, (CleanResult{{"/tmp/scratch", "/usr/local/junk"}, refusals, 30}));
  EXPECT_EQ(read_file(root / "marker"), "root");
  for (const char* folder : kSystemFolders) {
    EXPECT_EQ(read_file(root / folder / "marker"), folder) << folder;
  }
  EXPECT_TRUE(fs::exists(root / "sorvik_helper"));
  EXPECT_FALSE(fs::exists(root / "tmp/scratch"));
}

}  // namespace
}  // namespace sorvik_test
