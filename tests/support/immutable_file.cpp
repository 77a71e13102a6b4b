// The immutable attribute, through FS_IOC_SETFLAGS.
#include "support/immutable_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sorvik_lib/platform.hpp"
#if SORVIK_TESTS_HAVE_LINUX
#include <linux/fs.h>
#include <sys/ioctl.h>
#endif

namespace sorvik_test {
namespace {

// Sets or clears the immutable flag; the error text, or nothing.
[[nodiscard]] std::optional<std::string> mark_immutable(
    [[maybe_unused]] const std::filesystem::path& path, [[maybe_unused]] bool immutable) {
#if !SORVIK_TESTS_HAVE_LINUX
  return "the immutable attribute is set through Linux's FS_IOC_SETFLAGS";
#else
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::string("cannot open the file: ") + std::strerror(errno);
  int flags = 0;
  bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (done) {
    flags = immutable ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  const int error = errno;
  ::close(fd);
  if (!done)
    return std::string("this filesystem cannot mark a file immutable: ") + std::strerror(error);
  return std::nullopt;
#endif
}

}  // namespace

ImmutableFile::ImmutableFile(std::filesystem::path path) : path_(std::move(path)) {
  unavailable_ = mark_immutable(path_, true);
}

ImmutableFile::~ImmutableFile() {
  if (!unavailable_) (void)mark_immutable(path_, false);
}

}  // namespace sorvik_test
