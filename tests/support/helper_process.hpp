// Test support for running the built executables as processes on trees the test owns.
#pragma once

#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "sorvik_lib/sys/process.hpp"
#include "sorvik_lib/types/records.hpp"

namespace sorvik_test {

inline const std::string kHelperPath = SORVIK_HELPER_PATH;
inline const std::string kCliPath = SORVIK_CLI_PATH;

// A fresh directory under `base` (the system's temporary folder unless given), removed with all
// it holds at the end.
class TempDir {
 public:
  TempDir();
  explicit TempDir(const std::filesystem::path& base);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  [[nodiscard]] const std::filesystem::path& path() const { return path_; }
  [[nodiscard]] std::filesystem::path operator/(std::string_view name) const {
    return path_ / name;
  }

 private:
  std::filesystem::path path_;
};

// Memory-backed temporary space where the machine has it (/dev/shm), for trees of thousands of
// entries; the system's temporary folder elsewhere.
[[nodiscard]] std::filesystem::path fast_temp_directory();

void write_file(const std::filesystem::path& path, std::string_view content);
[[nodiscard]] std::string read_file(const std::filesystem::path& path);

// Runs `program` with `arguments`, feeding `input` on its standard input (with the default input
// mode); SIGPIPE is ignored in the test process so that a child that reads nothing cannot end it.
[[nodiscard]] sorvik_lib::sys::ProcessResult run(
    const std::string& program, std::vector<std::string> arguments, std::string_view input = {},
    sorvik_lib::sys::InputMode input_mode = sorvik_lib::sys::InputMode::Bytes,
    sorvik_lib::sys::OutputMode output_mode = sorvik_lib::sys::OutputMode::Capture);

// The helper with `input` on standard input and `arguments` after its name.
[[nodiscard]] sorvik_lib::sys::ProcessResult run_helper(std::string_view input,
                                                        std::vector<std::string> arguments = {});

// Decodes the helper's standard output as exactly one result: it fails the test on a decode
// error or on any byte after the result.
[[nodiscard]] sorvik_lib::types::CleanResult decode_exact(std::string_view output);

// The encoded request for an elevated clean of `paths`, keeping `keep`.
[[nodiscard]] std::string elevated_request(std::vector<std::string> paths,
                                           std::vector<std::string> keep = {});

// The encoded request for a managed clean by `strategy` with the option ids `options`.
[[nodiscard]] std::string managed_request(std::string strategy, std::vector<std::string> options);

}  // namespace sorvik_test
