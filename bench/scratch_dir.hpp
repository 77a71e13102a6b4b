// The harness's own fresh folders. Everything it builds, and everything it ever deletes, lies
// strictly inside one of them: removal refuses any other path.
#pragma once

#include <expected>
#include <string>

#include "sorvik_lib/sys/system_error.hpp"

namespace sorvik_bench {

class ScratchDir {
 public:
  // Makes a new folder "sorvik-bench-XXXXXX" under `parent` (which must exist).
  [[nodiscard]] static std::expected<ScratchDir, sorvik_lib::sys::SystemError> create(
      const std::string& parent);

  ScratchDir(ScratchDir&& other) noexcept;
  ScratchDir& operator=(ScratchDir&&) = delete;
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  // Removes the folder with all it holds.
  ~ScratchDir();

  [[nodiscard]] const std::string& path() const { return path_; }
  [[nodiscard]] std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  // Removes `path` (a tree, a file or a link) when it lies strictly inside this folder and holds
  // only plain components below it; refuses anything else. Missing paths are fine.
  [[nodiscard]] std::expected<void, std::string> remove_inside(const std::string& path) const;

 private:
  explicit ScratchDir(std::string path) : path_(std::move(path)) {}

  std::string path_;
};

}  // namespace sorvik_bench
