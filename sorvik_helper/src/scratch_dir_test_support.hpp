// A fresh directory for the helper's unit tests, removed with all it holds at the end. Screening
// and the guard only look at it; whatever a test deletes, it deletes inside it.
#pragma once

#include <stdlib.h>
#include <unistd.h>  // mkdtemp, on macOS

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace sorvik_helper::testing_support {

class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "sorvik-screening-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  [[nodiscard]] std::string operator/(std::string_view name) const {
    return (path_ / name).string();
  }
  [[nodiscard]] std::string text() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace sorvik_helper::testing_support
