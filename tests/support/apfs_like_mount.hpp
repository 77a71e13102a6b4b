// The suite's APFS-like filesystem (tests/fuse/apfs_like_fs.py) mounted for one test: names fold
// case and Unicode form but keep their spelling, the listing can shift as entries are deleted,
// and entries can be protected. The test process moves into a mount namespace of its own first,
// so the mount never shows on the host; the daemon is the test's child, and the guard unmounts it
// and waits for the daemon to end. Linux only, as root with /dev/fuse and python3-pyfuse3;
// unavailable() says why not.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "support/helper_process.hpp"
#include "support/private_mounts.hpp"

namespace sorvik_test {

enum class Listing { Stable, Shifting };

struct ApfsLikeOptions {
  Listing listing = Listing::Stable;
  // The most entries one opened listing skips when it shifts (0: as many as were deleted).
  unsigned miss_limit = 64;
};

class ApfsLikeMount {
 public:
  // Mounts a fresh, empty filesystem on the empty directory `at`.
  explicit ApfsLikeMount(std::filesystem::path at, ApfsLikeOptions options = {});
  ~ApfsLikeMount();
  ApfsLikeMount(const ApfsLikeMount&) = delete;
  ApfsLikeMount& operator=(const ApfsLikeMount&) = delete;

  [[nodiscard]] const std::optional<std::string>& unavailable() const { return unavailable_; }
  [[nodiscard]] const std::filesystem::path& path() const { return at_; }

  // Marks `entry` (not followed) so that unlinking, removing or renaming it fails with EPERM;
  // the error's text when it cannot.
  [[nodiscard]] std::optional<std::string> protect(const std::filesystem::path& entry) const;

  // Adds the files "f0", "f1", ... "f<count - 1>" to the directory `directory` at once, file i
  // holding i % largest + 1 bytes; the error's text when it cannot.
  [[nodiscard]] std::optional<std::string> fill(const std::filesystem::path& directory,
                                                unsigned count, unsigned largest) const;

  // How many entries the listings of the directory `directory` skipped as entries were deleted
  // meanwhile; nothing when it cannot be read.
  [[nodiscard]] std::optional<std::uint64_t> missed_in(
      const std::filesystem::path& directory) const;

 private:
  [[nodiscard]] bool start(const ApfsLikeOptions& options);
  [[nodiscard]] bool wait_until_mounted();
  void stop();
  [[nodiscard]] std::string daemon_log() const;

  PrivateMounts namespace_;
  TempDir logs_;
  std::filesystem::path at_;
  pid_t daemon_ = -1;
  bool mounted_ = false;
  std::optional<std::string> unavailable_;
};

}  // namespace sorvik_test
