// Whole-buffer reads and writes on file descriptors.
#include "sorvik_lib/sys/io.hpp"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "sorvik_lib/sys/unique_fd.hpp"

namespace sorvik_lib::sys {
namespace {

constexpr std::size_t kFirstBlock = 64 * 1024;
constexpr std::size_t kLargestBlock = 4 * 1024 * 1024;

// Waits until `fd` has something to read (or an end or error to report), or until `stop` is set.
[[nodiscard]] std::expected<void, SystemError> wait_readable(int fd,
                                                             const std::atomic<bool>& stop) {
  for (;;) {
    if (stop.load()) return std::unexpected(SystemError(ECANCELED));
    pollfd polled{fd, POLLIN, 0};
    const int ready = ::poll(&polled, 1, static_cast<int>(kStopCheckInterval.count()));
    if (ready > 0) return {};
    if (ready < 0 && errno != EINTR) return std::unexpected(SystemError::from_errno());
  }
}

// Waits until `fd` has room (or an error to report). Before a stop, as long as that takes; once
// `stop` is set, kStopWriteGrace at most, then ECANCELED.
[[nodiscard]] std::expected<void, SystemError> wait_writable(int fd,
                                                             const std::atomic<bool>& stop) {
  using Clock = std::chrono::steady_clock;
  std::optional<Clock::time_point> give_up_at;
  for (;;) {
    if (!give_up_at && stop.load()) give_up_at = Clock::now() + kStopWriteGrace;
    auto slice = kStopCheckInterval;
    if (give_up_at) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(*give_up_at - Clock::now());
      if (left.count() <= 0) return std::unexpected(SystemError(ECANCELED));
      slice = std::min(slice, left);
    }
    pollfd polled{fd, POLLOUT, 0};
    const int ready = ::poll(&polled, 1, static_cast<int>(slice.count()));
    if (ready > 0) return {};
    if (ready < 0 && errno != EINTR) return std::unexpected(SystemError::from_errno());
  }
}

// Reads until `size` bytes are in or the input ends; the number of bytes read. With `stop`, each
// read waits for readiness first, so none of them blocks past a stop.
[[nodiscard]] std::expected<std::size_t, SystemError> read_into(int fd, char* data,
                                                                std::size_t size,
                                                                const std::atomic<bool>* stop) {
  std::size_t used = 0;
  while (used < size) {
    if (stop != nullptr) {
      if (auto ready = wait_readable(fd, *stop); !ready) return std::unexpected(ready.error());
    }
    const ssize_t got = ::read(fd, data + used, size - used);
    if (got < 0) {
      if (errno == EINTR) continue;
      // Readiness can be taken by another reader of the same pipe: wait for it again.
      if (stop != nullptr && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;
      return std::unexpected(SystemError::from_errno());
    }
    if (got == 0) break;
    used += static_cast<std::size_t>(got);
  }
  return used;
}

}  // namespace

std::expected<std::string, SystemError> read_all(int fd, const std::atomic<bool>* stop) {
  std::string bytes;
  struct stat status {};
  if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0) {
    // A regular file goes straight into a buffer of its size; the one byte more sees its end.
    const auto expected = static_cast<std::size_t>(status.st_size) + 1;
    bytes.resize(expected);
    auto got = read_into(fd, bytes.data(), expected, stop);
    if (!got) return std::unexpected(got.error());
    bytes.resize(*got);
    if (*got < expected) return bytes;
    // The file grew meanwhile: the rest comes the general way.
  }
  // Anything else comes in blocks of growing size, never filled with zeros first, and is copied
  // once into a buffer of the exact total, each block let go as soon as it is copied: a large
  // input arriving through a pipe is held about once, not twice.
  std::vector<std::pair<std::unique_ptr<char[]>, std::size_t>> blocks;
  std::size_t total = bytes.size();
  for (std::size_t block_size = kFirstBlock;;
       block_size = std::min(block_size * 2, kLargestBlock)) {
    auto block = std::make_unique_for_overwrite<char[]>(block_size);
    auto got = read_into(fd, block.get(), block_size, stop);
    if (!got) return std::unexpected(got.error());
    if (*got > 0) blocks.emplace_back(std::move(block), *got);
    total += *got;
    if (*got < block_size) break;
  }
  bytes.reserve(total);
  for (auto& [block, size] : blocks) {
    bytes.append(block.get(), size);
    block.reset();
  }
  return bytes;
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

std::expected<void, SystemError> write_all(int fd, std::string_view data,
                                           const std::atomic<bool>* stop) {
  while (!data.empty()) {
    std::size_t piece = data.size();
    if (stop != nullptr) {
      if (auto ready = wait_writable(fd, *stop); !ready) return std::unexpected(ready.error());
      // poll() reports room in a pipe once PIPE_BUF bytes fit: a piece that size goes in without
      // blocking, so a stop that comes now is still seen before the next piece.
      piece = std::min<std::size_t>(piece, PIPE_BUF);
    }
    const ssize_t put = ::write(fd, data.data(), piece);
    if (put < 0) {
      if (errno == EINTR) continue;
      if (stop != nullptr && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;
      return std::unexpected(SystemError::from_errno());
    }
    data.remove_prefix(static_cast<std::size_t>(put));
  }
  return {};
}

}  // namespace sorvik_lib::sys
