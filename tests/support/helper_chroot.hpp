// A throwaway root directory for running the real helper where "/" and the system roots are the
// test's own: the helper and its shared libraries, system folders each holding a marker file,
// and a scratch folder for the helper to clean. Built under a fresh temporary directory and
// removed with it; needs root (skip the test when `unavailable()` says why not).
#pragma once

#include <cstdint>
#include <filesystem>
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

class HelperChroot {
 public:
  // The folders below the root that hold a marker file naming them.
  static const std::vector<std::string> kSystemFolders;

  HelperChroot();
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

  // The markers (the root's own and every system folder's) that are missing or changed, and
  // whether the helper itself is still there.
  [[nodiscard]] std::vector<std::string> damaged_markers() const;

 private:
  void build();

  TempDir dir_;
  std::filesystem::path root_;       // dir_/root
  std::filesystem::path peak_file_;  // beside the root, where only the runner writes
  std::optional<std::string> unavailable_;
  bool proc_mounted_ = false;
};

}  // namespace sorvik_test
