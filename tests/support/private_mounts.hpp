// Mounts a test makes for itself: the test process moves into a mount namespace of its own, so
// that what it mounts never shows on the host and vanishes with the process whatever happens.
// Linux only, as root; unavailable() says why not.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace sorvik_test {

class PrivateMounts {
 public:
  PrivateMounts();
  // Unmounts what it mounted, the last first, before any directory under them is removed.
  ~PrivateMounts();
  PrivateMounts(const PrivateMounts&) = delete;
  PrivateMounts& operator=(const PrivateMounts&) = delete;

  [[nodiscard]] const std::optional<std::string>& unavailable() const { return unavailable_; }

  // A fresh tmpfs on the directory `at`; false (with unavailable() set) when it cannot be made.
  [[nodiscard]] bool mount_tmpfs(const std::filesystem::path& at);
  // The directory `source` shown at the directory `target` too.
  [[nodiscard]] bool bind(const std::filesystem::path& source, const std::filesystem::path& target);

 private:
  std::optional<std::string> unavailable_;
  std::vector<std::filesystem::path> mounted_;
};

}  // namespace sorvik_test
