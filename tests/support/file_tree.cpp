// Making and counting wide trees, with plain system calls: tens of thousands of files must take a
// test a fraction of a second.
#include "support/file_tree.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

namespace sorvik_test {

void make_wide_tree(const std::filesystem::path& root, std::size_t directories,
                    std::size_t files_each, std::size_t file_size) {
  std::filesystem::create_directories(root);
  const std::string content(file_size, 'w');
  for (std::size_t d = 0; d < directories; ++d) {
    const auto directory = root / ("d" + std::to_string(d));
    std::filesystem::create_directory(directory);
    for (std::size_t f = 0; f < files_each; ++f) {
      const auto file = directory / ("f" + std::to_string(f));
      const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
      if (fd < 0) throw std::runtime_error("cannot create " + file.string());
      const bool written =
          ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
      ::close(fd);
      if (!written) throw std::runtime_error("cannot write " + file.string());
    }
  }
}

TreeCount count_tree(const std::filesystem::path& root) {
  TreeCount count;
  std::error_code error;
  if (!std::filesystem::exists(root, error)) return count;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    struct stat status {};
    if (::lstat(entry.path().c_str(), &status) != 0 || !S_ISREG(status.st_mode)) continue;
    ++count.files;
    count.bytes += static_cast<std::uint64_t>(status.st_size);
    count.allocated += static_cast<std::uint64_t>(status.st_blocks) * 512;
  }
  return count;
}

}  // namespace sorvik_test
