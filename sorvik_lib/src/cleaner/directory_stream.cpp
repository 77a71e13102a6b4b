// Directory listing through a handle, with the Linux getdents64 fast path.
#include "directory_stream.hpp"

#include <fcntl.h>

#include <cstddef>
#include <cstring>
#include <utility>

namespace sorvik_lib::cleaner {

using sys::SystemError;
using sys::UniqueFd;

namespace {

bool is_dot_or_dot_dot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

}  // namespace

#if SORVIK_HAS_GETDENTS64

namespace {

// Large enough that a directory of a few hundred entries is read in one call, small enough that
// the bounded number of open streams stays well under a megabyte.
constexpr std::size_t kBufferSize = 32 * 1024;

// The largest record getdents64 can write: its header and a name of NAME_MAX bytes, aligned.
constexpr std::size_t kLargestRecord = offsetof(struct dirent64, d_name) + 256 + 8;

}  // namespace

std::expected<DirectoryStream, SystemError> DirectoryStream::open(UniqueFd directory) {
  DirectoryStream stream;
  stream.fd_ = std::move(directory);
  stream.buffer_ = std::make_unique_for_overwrite<char[]>(kBufferSize);
  return stream;
}

DirectoryStream DirectoryStream::handle_only(UniqueFd directory) {
  DirectoryStream stream;
  stream.fd_ = std::move(directory);
  stream.exhausted_ = true;
  return stream;
}

int DirectoryStream::fd() const { return fd_.get(); }

std::expected<std::optional<DirectoryEntry>, SystemError> DirectoryStream::next() {
  for (;;) {
    if (position_ >= filled_) {
      if (exhausted_) return std::nullopt;
      ssize_t got;
      do {
        got = ::getdents64(fd(), buffer_.get(), kBufferSize);
      } while (got < 0 && errno == EINTR);
      if (got < 0) return std::unexpected(SystemError::from_errno());
      position_ = 0;
      filled_ = static_cast<std::size_t>(got);
      short_read_ = filled_ + kLargestRecord <= kBufferSize;
      if (got == 0) {
        exhausted_ = true;
        // The buffer is not needed again; a stream kept open only for its handle holds no memory.
        buffer_.reset();
        return std::nullopt;
      }
    }
    // Records are read field by field so that nothing relies on the buffer's alignment.
    const char* record = buffer_.get() + position_;
    unsigned short length;
    std::memcpy(&length, record + offsetof(struct dirent64, d_reclen), sizeof length);
    unsigned char type;
    std::memcpy(&type, record + offsetof(struct dirent64, d_type), sizeof type);
    ino64_t inode;
    std::memcpy(&inode, record + offsetof(struct dirent64, d_ino), sizeof inode);
    position_ += length;
    const char* name = record + offsetof(struct dirent64, d_name);
    if (!is_dot_or_dot_dot(name)) return DirectoryEntry{name, type, static_cast<ino_t>(inode)};
  }
}

bool DirectoryStream::ended_short() const {
  return fd_.valid() && !exhausted_ && short_read_ && filled_ != 0 && position_ >= filled_;
}

void DirectoryStream::close() {
  fd_.reset();
  buffer_.reset();
  position_ = filled_ = 0;
  exhausted_ = false;
  short_read_ = false;
}

#else

std::expected<DirectoryStream, SystemError> DirectoryStream::open(UniqueFd directory) {
  DIR* dir = ::fdopendir(directory.get());
  if (dir == nullptr) return std::unexpected(SystemError::from_errno());
  (void)directory.release();  // the DIR owns it now and closedir closes it
  DirectoryStream stream;
  stream.dir_.reset(dir);
  return stream;
}

DirectoryStream DirectoryStream::handle_only(UniqueFd directory) {
  DirectoryStream stream;
  stream.bare_ = std::move(directory);
  return stream;
}

int DirectoryStream::fd() const { return dir_ ? ::dirfd(dir_.get()) : bare_.get(); }

bool DirectoryStream::ended_short() const { return false; }

std::expected<std::optional<DirectoryEntry>, SystemError> DirectoryStream::next() {
  if (dir_ == nullptr) return std::nullopt;
  for (;;) {
    errno = 0;
    const struct dirent* entry = ::readdir(dir_.get());
    if (entry == nullptr) {
      if (errno != 0) return std::unexpected(SystemError::from_errno());
      return std::nullopt;
    }
    if (!is_dot_or_dot_dot(entry->d_name)) {
      return DirectoryEntry{entry->d_name, entry->d_type, entry->d_ino};
    }
  }
}

void DirectoryStream::close() {
  dir_.reset();
  bare_.reset();
}

#endif

}  // namespace sorvik_lib::cleaner
