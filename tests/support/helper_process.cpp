// Test support for running the built executables.
#include "support/helper_process.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "sorvik_lib/types/wire.hpp"

namespace sorvik_test {

TempDir::TempDir() : TempDir(std::filesystem::temp_directory_path()) {}

TempDir::TempDir(const std::filesystem::path& base) {
  std::string pattern = (base / "sorvik-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path fast_temp_directory() {
  std::error_code error;
  if (::access("/dev/shm", W_OK | X_OK) == 0 && std::filesystem::is_directory("/dev/shm", error)) {
    return "/dev/shm";
  }
  return std::filesystem::temp_directory_path();
}

void write_file(const std::filesystem::path& path, std::string_view content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

sorvik_lib::sys::ProcessResult run(const std::string& program, std::vector<std::string> arguments,
                                   std::string_view input, sorvik_lib::sys::InputMode input_mode,
                                   sorvik_lib::sys::OutputMode output_mode) {
  ::signal(SIGPIPE, SIG_IGN);
  arguments.insert(arguments.begin(), program);
  sorvik_lib::sys::ProcessOptions options;
  options.input_mode = input_mode;
  options.input = input;
  options.output_mode = output_mode;
  auto result = sorvik_lib::sys::run_process(arguments, options);
  if (!result) throw std::runtime_error("cannot run " + program + ": " + result.error().message());
  return std::move(*result);
}

sorvik_lib::sys::ProcessResult run_helper(std::string_view input,
                                          std::vector<std::string> arguments) {
  return run(kHelperPath, std::move(arguments), input);
}

sorvik_lib::types::CleanResult decode_exact(std::string_view output) {
  auto result = sorvik_lib::types::decode_result(output);
  if (!result) {
    ADD_FAILURE() << "helper output does not decode: " << result.error().message;
    return {};
  }
  const auto again = sorvik_lib::types::encode_result(*result);
  EXPECT_TRUE(again && again->size() == output.size()) << "bytes after the result";
  return std::move(*result);
}

std::string elevated_request(std::vector<std::string> paths, std::vector<std::string> keep) {
  return sorvik_lib::types::encode_request(
             sorvik_lib::types::SidecarRequest(
                 std::in_place_index<0>,
                 sorvik_lib::types::ElevatedCleanRequest{std::move(paths), std::move(keep)}))
      .value();
}

std::string managed_request(std::string strategy, std::vector<std::string> options) {
  return sorvik_lib::types::encode_request(
             sorvik_lib::types::SidecarRequest(
                 std::in_place_index<1>,
                 sorvik_lib::types::ManagedCleanRequest{std::move(strategy), std::move(options)}))
      .value();
}

}  // namespace sorvik_test
