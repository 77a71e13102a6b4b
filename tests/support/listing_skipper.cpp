// Loaded into the helper with LD_PRELOAD, it makes the system behave like a filesystem that
// reorders a directory while entries are deleted from it (as APFS and HFS+ do): once something
// has been deleted through a directory handle, every later listing read through that handle
// leaves out every second entry. Listings are also read in small batches, so that deletions fall
// between the reads of one directory. A listing through a fresh handle sees everything.
// With SORVIK_LISTING_FAILS set in the environment, such a listing fails with EIO instead.
#include <dirent.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kMaxFd = 4096;
constexpr std::size_t kBatchBytes = 1024;

bool deleted_through[kMaxFd];

bool tracked(int fd) { return fd >= 0 && fd < kMaxFd; }

}  // namespace

extern "C" {

ssize_t getdents64(int fd, void* buffer, size_t size) {
  const long got = ::syscall(SYS_getdents64, fd, buffer, size < kBatchBytes ? size : kBatchBytes);
  if (got <= 0 || !tracked(fd) || !deleted_through[fd]) return got;
  if (std::getenv("SORVIK_LISTING_FAILS") != nullptr) {
    errno = EIO;
    return -1;
  }
  char* const records = static_cast<char*>(buffer);
  std::size_t kept = 0;
  std::size_t index = 0;
  for (std::size_t at = 0; at < static_cast<std::size_t>(got); ++index) {
    unsigned short length;
    std::memcpy(&length, records + at + offsetof(struct dirent64, d_reclen), sizeof length);
    if (index % 2 == 0) {
      std::memmove(records + kept, records + at, length);
      kept += length;
    }
    at += length;
  }
  return static_cast<ssize_t>(kept);
}

int unlinkat(int fd, const char* name, int flags) {
  const long done = ::syscall(SYS_unlinkat, fd, name, flags);
  if (done == 0 && tracked(fd)) deleted_through[fd] = true;
  return static_cast<int>(done);
}

int close(int fd) {
  if (tracked(fd)) deleted_through[fd] = false;
  return static_cast<int>(::syscall(SYS_close, fd));
}

}  // extern "C"
