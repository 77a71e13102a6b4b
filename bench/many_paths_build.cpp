// Builders of the many-paths workloads. File sizes vary from 1 to 4 KiB with a fixed rule, so
// every run builds the same bytes and the helper's bytesFreed has one right value.
#include "many_paths_build.hpp"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>

#include "sorvik_lib/sys/io.hpp"
#include "sorvik_lib/sys/unique_fd.hpp"

namespace sorvik_bench {
namespace {

using sorvik_lib::sys::SystemError;
using sorvik_lib::sys::UniqueFd;

constexpr int kFolders = 200;
constexpr int kParents = 100;
constexpr int kEach = 100;

// 1 KiB to 4 KiB in steps of 32 bytes.
std::size_t size_of_file(std::size_t index) { return 1024 + (index % 97) * 32; }

[[nodiscard]] std::expected<void, SystemError> make_directory(const std::string& path) {
  if (::mkdir(path.c_str(), 0755) != 0) return std::unexpected(SystemError::from_errno());
  return {};
}

[[nodiscard]] std::expected<void, SystemError> write_file_of(const std::string& path,
                                                             std::size_t size) {
  static const std::array<char, 4096> bytes = [] {
    std::array<char, 4096> filled{};
    for (std::size_t i = 0; i < filled.size(); ++i) filled[i] = static_cast<char>('a' + i % 26);
    return filled;
  }();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return std::unexpected(SystemError::from_errno());
  const UniqueFd owner(fd);
  return sorvik_lib::sys::write_all(fd, std::string_view(bytes.data(), size));
}

// `folders` folders under `root`, each with 100 names in it; a file is written at each name when
// `write_files` is set, else the names are left free.
[[nodiscard]] std::expected<Workload, SystemError> build_flat(const std::string& root, int folders,
                                                              bool write_files) {
  Workload made;
  if (auto r = make_directory(root); !r) return std::unexpected(r.error());
  for (int d = 0; d < folders; ++d) {
    made.folders.push_back(fmt::format("{}/d{:03}", root, d));
    if (auto r = make_directory(made.folders.back()); !r) return std::unexpected(r.error());
    for (int f = 0; f < kEach; ++f) {
      made.paths.push_back(fmt::format("{}/f{:03}.cache", made.folders.back(), f));
      if (!write_files) continue;
      const std::size_t size = size_of_file(made.paths.size());
      if (auto r = write_file_of(made.paths.back(), size); !r) return std::unexpected(r.error());
      made.bytes += size;
    }
  }
  return made;
}

[[nodiscard]] std::expected<Workload, SystemError> build_one_file_folders(const std::string& root) {
  Workload made;
  if (auto r = make_directory(root); !r) return std::unexpected(r.error());
  for (int p = 0; p < kParents; ++p) {
    made.folders.push_back(fmt::format("{}/p{:03}", root, p));
    if (auto r = make_directory(made.folders.back()); !r) return std::unexpected(r.error());
    for (int c = 0; c < kEach; ++c) {
      made.paths.push_back(fmt::format("{}/c{:03}", made.folders.back(), c));
      if (auto r = make_directory(made.paths.back()); !r) return std::unexpected(r.error());
      const std::size_t size = size_of_file(made.paths.size());
      if (auto r = write_file_of(made.paths.back() + "/index.bin", size); !r) {
        return std::unexpected(r.error());
      }
      made.bytes += size;
    }
  }
  return made;
}

}  // namespace

std::string_view workload_name(ManyPathsKind kind) {
  switch (kind) {
    case ManyPathsKind::Files:
      return "files";
    case ManyPathsKind::OneFileFolders:
      return "one-file folders";
    case ManyPathsKind::Missing:
      return "missing paths";
  }
  return "?";
}

std::string describe_workload(ManyPathsKind kind) {
  switch (kind) {
    case ManyPathsKind::Files:
      return fmt::format("{} regular files of 1-4 KiB in {} folders of {}; the files given",
                         kFolders * kEach, kFolders, kEach);
    case ManyPathsKind::OneFileFolders:
      return fmt::format("{} folders of one 1-4 KiB file, in {} folders of {}; they are given",
                         kParents * kEach, kParents, kEach);
    case ManyPathsKind::Missing:
      return fmt::format("{} paths that do not exist, in {} folders of {} that do",
                         kFolders * kEach, kFolders, kEach);
  }
  return "?";
}

std::expected<Workload, SystemError> build_workload(ManyPathsKind kind, const std::string& root) {
  switch (kind) {
    case ManyPathsKind::Files:
      return build_flat(root, kFolders, true);
    case ManyPathsKind::OneFileFolders:
      return build_one_file_folders(root);
    case ManyPathsKind::Missing:
      return build_flat(root, kFolders, false);
  }
  return std::unexpected(SystemError(EINVAL));
}

}  // namespace sorvik_bench
