// A throwaway root directory for running the real helper where "/" and the system roots are the
// test's own: the helper and its shared libraries, system folders each holding a marker file,
// and a scratch folder for the helper to clean. Built under a fresh temporary directory and
// removed with it; needs root (skip the test when `unavailable()` says why not).
//
// The macOS shape lays the root out as a Mac's: the data volume at /System/Volumes/Data holds
// Users, Applications, Library and private, which show at the top through bind mounts (standing
// in for firmlinks), and /var, /tmp and /etc are links into private/. The bind mounts live in the
// helper's own mount namespace only. With case folding the root is a case-folding tmpfs, so that
// "/USERS" is "/Users" as on a Mac's default volume; APFS-like, the root is the suite's FUSE
// filesystem, which folds Unicode forms too.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sorvik_lib/sys/process.hpp"
#include "support/helper_process.hpp"

namespace sorvik_test {

// One run of the helper inside the root.
struct ChrootRun {
  sorvik_lib::sys::ProcessResult process;  // the helper's own status and streams
  std::uint64_t peak_kib = 0;              // the helper's peak resident size
};

enum class RootShape { Plain, MacOS, MacOSCaseFolding, MacOSApfsLike };

class ApfsLikeMount;

class HelperChroot {
 public:
  // The folders below a plain root that hold a marker file naming them.
  static const std::vector<std::string> kSystemFolders;

  explicit HelperChroot(RootShape shape = RootShape::Plain);
  ~HelperChroot();
  HelperChroot(const HelperChroot&) = delete;
  HelperChroot& operator=(const HelperChroot&) = delete;

  // Why the helper cannot run inside, or nothing when it can.
  [[nodiscard]] const std::optional<std::string>& unavailable() const { return unavailable_; }

  // The root as the host sees it, and a path inside it (given as the helper sees it) on the host.
  [[nodiscard]] const std::filesystem::path& root() const { return root_; }
  [[nodiscard]] std::filesystem::path host_path(std::string_view inside) const;

  // Runs "/sorvik_helper" inside with `input` on standard input and `arguments` after its name.
  [[nodiscard]] ChrootRun run(std::string_view input,
                              const std::vector<std::string>& arguments = {}) const;

  // Mounts the directory `source` on `target` (both as the helper sees them) for every run.
  void bind(std::string_view source, std::string_view target);

  // Puts a marker file at `inside` (as the helper sees it) that damaged_markers() checks.
  void add_marker(std::string_view inside);

  // The markers (the root's own, every system folder's and the added ones) that are missing or
  // changed, and whether the helper itself is still there.
  [[nodiscard]] std::vector<std::string> damaged_markers() const;

 private:
  void build(RootShape shape);
  void lay_out_plain();
  void lay_out_macos();
  [[nodiscard]] bool mount_case_folding_root();

  TempDir dir_;
  std::filesystem::path root_;       // dir_/root
  std::filesystem::path peak_file_;  // beside the root, where only the runner writes
  std::optional<std::string> unavailable_;
  std::vector<std::string> markers_;                        // as the helper sees them
  std::vector<std::pair<std::string, std::string>> binds_;  // source, target inside
  bool proc_mounted_ = false;
  bool root_mounted_ = false;
  // Declared last so that it goes first, before the directory it is mounted on.
  std::unique_ptr<ApfsLikeMount> apfs_like_root_;
};

}  // namespace sorvik_test
