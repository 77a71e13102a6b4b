// A file the system refuses to remove even to root, for as long as the guard lives: Linux's
// immutable attribute (chattr +i), standing in for what SIP and the uchg and schg flags protect on
// macOS. Where the filesystem cannot mark it, unavailable() says why.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace sorvik_test {

class ImmutableFile {
 public:
  explicit ImmutableFile(std::filesystem::path path);
  // Clears the mark, so that the test's directory can be removed.
  ~ImmutableFile();
  ImmutableFile(const ImmutableFile&) = delete;
  ImmutableFile& operator=(const ImmutableFile&) = delete;

  [[nodiscard]] const std::optional<std::string>& unavailable() const { return unavailable_; }

 private:
  std::filesystem::path path_;
  std::optional<std::string> unavailable_;
};

}  // namespace sorvik_test
