// Request intake for the helper's entry.
#include "request_source.hpp"

#include <fcntl.h>
#include <unistd.h>

#include "request_file.hpp"
#include "sorvik_lib/sys/io.hpp"

namespace sorvik_helper {

std::expected<std::string, std::string> obtain_request_bytes(std::span<const char* const> arguments,
                                                             const std::atomic<bool>* stop) {
  if (arguments.size() < 2) {
    auto bytes = sorvik_lib::sys::read_all(STDIN_FILENO, stop);
    // Standard input that is not open at all reads as empty input.
    if (!bytes && bytes.error().number() == EBADF) return std::string();
    if (!bytes && bytes.error().number() == ECANCELED) return std::unexpected("Cancelled");
    if (!bytes) return std::unexpected("Failed to read stdin: " + bytes.error().message());
    return std::move(*bytes);
  }
  return read_request_file(arguments[1], stop);
}

void reserve_standard_descriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int null_fd = ::open("/dev/null", O_RDWR);
    // open() takes the lowest free number, which is `fd` itself; anything else means it failed.
    if (null_fd >= 0 && null_fd != fd) ::close(null_fd);
  }
}

}  // namespace sorvik_helper
