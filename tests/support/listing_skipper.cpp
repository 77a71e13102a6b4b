// Loaded into the helper with LD_PRELOAD, it makes the system behave like a filesystem that
// reorders a directory while entries are deleted from it (as APFS and HFS+ do): once something
// has been deleted through a directory handle, every later listing read through that handle
// leaves out every second entry. It stands in at both levels a build may list at: getdents64
// (read in small batches, so that deletions fall between the reads of one directory) and readdir,
// which glibc serves without calling getdents64 through anything a preload can replace. A listing
// through a fresh handle sees everything.
// With SORVIK_LISTING_FAILS set in the environment, such a listing fails with EIO instead. With
// SORVIK_LISTING_CALLS naming a file, the numbers of getdents64 and readdir calls are written to
// it at exit ("getdents64 N readdir M"), so a test can tell which level the helper lists at.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kMaxFd = 4096;
constexpr std::size_t kBatchBytes = 1024;

bool deleted_through[kMaxFd];
bool skip_next[kMaxFd];  // readdir's alternation, per handle
std::atomic<unsigned long> getdents_calls{0};
std::atomic<unsigned long> readdir_calls{0};

bool tracked(int fd) { return fd >= 0 && fd < kMaxFd; }

void forget(int fd) {
  if (!tracked(fd)) return;
  deleted_through[fd] = false;
  skip_next[fd] = false;
}

bool listing_fails() { return std::getenv("SORVIK_LISTING_FAILS") != nullptr; }

template <class Function>
Function next_definition(const char* name) {
  return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

// One readdir or readdir64, leaving out every second entry of a handle deleted through.
template <class Entry>
Entry* skipping(Entry* (*real)(DIR*), DIR* dir) {
  readdir_calls.fetch_add(1, std::memory_order_relaxed);
  Entry* entry = real(dir);
  const int fd = ::dirfd(dir);
  if (entry == nullptr || !tracked(fd) || !deleted_through[fd]) return entry;
  if (listing_fails()) {
    errno = EIO;
    return nullptr;
  }
  skip_next[fd] = !skip_next[fd];
  return skip_next[fd] ? entry : real(dir);
}

__attribute__((destructor)) void report_calls() {
  const char* path = std::getenv("SORVIK_LISTING_CALLS");
  if (path == nullptr) return;
  char line[96];
  const int length = std::snprintf(line, sizeof line, "getdents64 %lu readdir %lu\n",
                                   getdents_calls.load(), readdir_calls.load());
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  (void)!::write(fd, line, static_cast<std::size_t>(length));
  ::syscall(SYS_close, fd);
}

}  // namespace

extern "C" {

ssize_t getdents64(int fd, void* buffer, size_t size) {
  getdents_calls.fetch_add(1, std::memory_order_relaxed);
  const long got = ::syscall(SYS_getdents64, fd, buffer, size < kBatchBytes ? size : kBatchBytes);
  if (got <= 0 || !tracked(fd) || !deleted_through[fd]) return got;
  if (listing_fails()) {
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

struct dirent* readdir(DIR* dir) {
  static const auto real = next_definition<struct dirent* (*)(DIR*)>("readdir");
  return skipping(real, dir);
}

struct dirent64* readdir64(DIR* dir) {
  static const auto real = next_definition<struct dirent64* (*)(DIR*)>("readdir64");
  return skipping(real, dir);
}

int closedir(DIR* dir) {
  static const auto real = next_definition<int (*)(DIR*)>("closedir");
  // glibc closes the handle inside, out of reach of close() below.
  forget(::dirfd(dir));
  return real(dir);
}

int unlinkat(int fd, const char* name, int flags) {
  const long done = ::syscall(SYS_unlinkat, fd, name, flags);
  if (done == 0 && tracked(fd)) deleted_through[fd] = true;
  return static_cast<int>(done);
}

int close(int fd) {
  forget(fd);
  return static_cast<int>(::syscall(SYS_close, fd));
}

}  // extern "C"
