// Reading and deleting the request file. Named by whoever starts the helper, it may be anything
// the root user can reach: /dev/null, a watchdog device that a mere open arms, a FIFO nobody
// writes to, or a name that is swapped while the helper works.
#include "request_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>

#include "sorvik_lib/sys/io.hpp"
#include "sorvik_lib/sys/system_error.hpp"
#include "sorvik_lib/sys/unique_fd.hpp"

namespace sorvik_helper {
namespace {

using sorvik_lib::sys::SystemError;
using sorvik_lib::sys::UniqueFd;

constexpr std::string_view kFailurePrefix = "Failed to read request file: ";

std::string failure(std::string_view text) {
  return std::string(kFailurePrefix) + std::string(text);
}

std::string failure(const SystemError& error) {
  if (error.number() == ECANCELED) return "Cancelled";
  return failure(error.message());
}

// Why `status` is no request file, or nothing when it is one.
[[nodiscard]] std::expected<void, std::string> check_type(const struct stat& status) {
  if (S_ISREG(status.st_mode) || S_ISFIFO(status.st_mode)) return {};
  if (S_ISDIR(status.st_mode)) return std::unexpected(failure(SystemError(EISDIR)));
  return std::unexpected(failure(kNotARequestFile));
}

struct OpenedFile {
  UniqueFd fd;
  struct stat status {};
};

// Opens `path` for reading, having looked first, so that a device named by mistake is not even
// opened (opening some has effects of its own). The type that counts is the opened descriptor's:
// the name may have been swapped between the look and the open. The open never waits: a FIFO
// with no writer opens at once and its reads then wait, with the stop flag, for input.
[[nodiscard]] std::expected<OpenedFile, std::string> open_request_file(const char* path) {
  struct stat named {};
  if (::stat(path, &named) != 0) return std::unexpected(failure(SystemError::from_errno()));
  if (auto is_file = check_type(named); !is_file) return std::unexpected(is_file.error());
  int fd;
  do {
    fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return std::unexpected(failure(SystemError::from_errno()));
  OpenedFile opened{UniqueFd(fd), {}};
  if (::fstat(fd, &opened.status) != 0) {
    return std::unexpected(failure(SystemError::from_errno()));
  }
  if (auto is_file = check_type(opened.status); !is_file) return std::unexpected(is_file.error());
  return opened;
}

bool same_entry(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Deletes the name `path` when, in the directory that holds it, it is still the file that was
// read or a symbolic link to it. The directory is opened once and the entry looked at and removed
// through it, so a link swapped into a component above cannot move the removal elsewhere (to
// /dev, say). What is left is a swap of the entry itself between the look and the removal, which
// only someone who may change that directory can make, and who could remove the entry anyway.
void delete_request_file(const char* path, const struct stat& read) {
  const std::string_view whole(path);
  const auto slash = whole.rfind('/');
  std::string directory = ".";
  std::string name(whole);
  if (slash != std::string_view::npos) {
    directory = slash == 0 ? "/" : std::string(whole.substr(0, slash));
    name = whole.substr(slash + 1);
  }
  if (name.empty() || name == "." || name == "..") return;
  int fd;
  do {
    fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return;
  const UniqueFd directory_fd(fd);
  struct stat entry {};
  if (::fstatat(fd, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) return;
  if (S_ISLNK(entry.st_mode) && ::fstatat(fd, name.c_str(), &entry, 0) != 0) return;
  if (!same_entry(entry, read)) return;
  // A failure to delete changes nothing for the request.
  (void)::unlinkat(fd, name.c_str(), 0);
}

}  // namespace

std::expected<std::string, std::string> read_request_file(const char* path,
                                                          const std::atomic<bool>* stop) {
  // The descriptor does not block, so its reads always wait through poll(), with a flag that is
  // never set when there is none to look at.
  static const std::atomic<bool> kNeverStopped{false};
  auto opened = open_request_file(path);
  if (!opened) return std::unexpected(std::move(opened.error()));
  auto bytes = sorvik_lib::sys::read_all(opened->fd.get(), stop != nullptr ? stop : &kNeverStopped);
  if (!bytes) return std::unexpected(failure(bytes.error()));
  // Deleted before anything is decoded.
  delete_request_file(path, opened->status);
  return std::move(*bytes);
}

}  // namespace sorvik_helper
