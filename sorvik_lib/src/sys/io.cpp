// Whole-buffer reads and writes on file descriptors.
#include "sorvik_lib/sys/io.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sorvik_lib/sys/unique_fd.hpp"

namespace sorvik_lib::sys {
namespace {

constexpr std::size_t kMinimumChunk = 64 * 1024;

}  // namespace

std::expected<std::string, SystemError> read_all(int fd) {
  std::string buffer;
  struct stat status {};
  // A regular file gets its exact size plus one byte, so the read that sees its end needs no
  // growth; anything else grows by doubling.
  if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0) {
    buffer.resize(static_cast<std::size_t>(status.st_size) + 1);
  }
  std::size_t used = 0;
  for (;;) {
    if (used == buffer.size()) buffer.resize(std::max(used * 2, kMinimumChunk));
    const ssize_t got = ::read(fd, buffer.data() + used, buffer.size() - used);
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(SystemError::from_errno());
    }
    if (got == 0) break;
    used += static_cast<std::size_t>(got);
  }
  buffer.resize(used);
  return buffer;
}

std::expected<std::string, SystemError> read_file(const char* path) {
  int fd;
  do {
    fd = ::open(path, O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return std::unexpected(SystemError::from_errno());
  const UniqueFd owner(fd);
  return read_all(fd);
}

std::expected<void, SystemError> write_all(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t put = ::write(fd, data.data(), data.size());
    if (put < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(SystemError::from_errno());
    }
    data.remove_prefix(static_cast<std::size_t>(put));
  }
  return {};
}

}  // namespace sorvik_lib::sys
