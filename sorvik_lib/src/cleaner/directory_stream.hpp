// Listing a directory through a handle: a Linux fast path that reads getdents64 batches into a
// buffer, and readdir on the handle everywhere else. Neither costs a system call per entry.
#pragma once

#include <dirent.h>
#include <sys/types.h>

#include <expected>
#include <memory>
#include <optional>

#include "sorvik_lib/platform.hpp"
#include "sorvik_lib/sys/system_error.hpp"
#include "sorvik_lib/sys/unique_fd.hpp"

namespace sorvik_lib::cleaner {

// One listed entry. `name` stays valid until the stream is read again, moved or closed; `type` is
// the listing's DT_* value, DT_UNKNOWN where the filesystem does not say.
struct DirectoryEntry {
  const char* name;
  unsigned char type;
  ino_t inode;  // the listing's own, which a link's entry shares with the link
};

// Owns a directory handle and reads its entries in the directory's own order, "." and ".." left
// out. The handle stays usable for *at() calls while the listing is read.
class DirectoryStream {
 public:
  // Takes `directory` over for listing; on failure the handle is closed.
  [[nodiscard]] static std::expected<DirectoryStream, sys::SystemError> open(
      sys::UniqueFd directory);

  // Holds `directory` for *at() calls only: its listing reads as already exhausted.
  [[nodiscard]] static DirectoryStream handle_only(sys::UniqueFd directory);

  [[nodiscard]] int fd() const;

  // The next entry, or nullopt once the listing is exhausted.
  [[nodiscard]] std::expected<std::optional<DirectoryEntry>, sys::SystemError> next();

  // Every entry read so far has been handed out, and the last read filled its buffer so little
  // that no further entry would have fitted: the listing has almost surely ended, though only
  // the next read can say so. Always false where listings are not read in batches.
  [[nodiscard]] bool ended_short() const;

  // Closes the handle; the stream is empty afterwards.
  void close();

 private:
#if SORVIK_HAS_GETDENTS64
  sys::UniqueFd fd_;
  std::unique_ptr<char[]> buffer_;
  std::size_t position_ = 0;
  std::size_t filled_ = 0;
  bool exhausted_ = false;
  bool short_read_ = false;
#else
  struct CloseDir {
    void operator()(DIR* dir) const { ::closedir(dir); }  // and the handle it owns
  };
  std::unique_ptr<DIR, CloseDir> dir_;
  sys::UniqueFd bare_;  // a handle_only stream's handle
#endif
};

}  // namespace sorvik_lib::cleaner
