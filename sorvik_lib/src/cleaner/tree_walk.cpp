// Walking a directory tree through handles, for measuring it and for removing it.
//
// The walk. Both passes walk the same way: depth first, in each directory's own listing order, on
// an explicit stack of frames instead of the call stack, so that a tree 20,000 levels deep costs
// heap and not stack. A frame is one directory being listed: its name in its parent, the stream
// that lists it through an open handle, and whatever of its listing had to be read ahead. Every
// directory below the start is opened relative to its parent's handle with O_NOFOLLOW |
// O_DIRECTORY, so a symbolic link is never entered: the open fails with ELOOP or ENOTDIR and the
// link is handled as the plain entry it is (it counts nothing, or it is unlinked). No call in the
// walk takes a path; every one is relative to a handle. That is also what keeps it fast: the
// listing's d_type tells directories from the rest, a measure costs one fstatat per regular file,
// and a removal one unlinkat per entry, with no per-entry fstat, fcntl or path building.
//
// The descriptor budget. At most kMaxOpenDirectories frames hold a handle, and they are always the
// deepest ones, a contiguous run at the top of the stack. Going deeper than the budget allows
// evicts the shallowest open frame: the rest of its listing is read into memory (so a measure
// never counts an entry twice and a removal never loses its place), the device and inode of its
// directory are recorded, and its handle is closed. When the walk comes back up to an evicted
// frame, it reopens that directory as ".." of the child it is leaving. Should the process run out
// of descriptors anyway (a low RLIMIT_NOFILE, or many held by the caller), the walk evicts further
// and retries, down to the single handle it is working in.
//
// Why a swapped directory cannot lead the walk outside the tree. Going down, each step opens a
// name relative to a handle the walk holds, without following links, so what it enters is a real
// directory inside the one it is in; a link put in place of a directory is removed as a link.
// Going up needs no lookup at all while the parent's handle is open. Only an evicted parent is
// reached through "..", and ".." names wherever the child is now: had someone moved the child
// elsewhere meanwhile, ".." would be its new place. So the reopened directory must have the device
// and inode recorded on the way down, or the walk stops with ESTALE without touching anything
// more; a removal reports that as its failure. A directory moved away while the walk holds its
// handle is still the directory the walk was emptying; when it is done, the final unlinkat of its
// old name either finds nothing (ENOENT, not an error) or meets whatever took the name, which
// AT_REMOVEDIR removes only if it is an empty directory. A directory that someone else deletes
// while the walk holds it fails its listing with ENOENT; it holds nothing any more, so the walk
// leaves it as done, and a removal counts that as the vanished entry it is.
#include "tree_walk.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "directory_stream.hpp"

namespace sorvik_lib::cleaner {

using sys::SystemError;
using sys::UniqueFd;

namespace {

// What a visitor asks of the walk after seeing an entry.
enum class Step { Next, Descend };

struct PendingEntry {
  std::string name;
  unsigned char type;
};

struct Frame {
  std::string name;  // in the parent directory; empty for the start
  DirectoryStream stream;
  std::vector<PendingEntry> pending;  // read ahead when the frame was evicted
  std::size_t next_pending = 0;
  DirectoryIdentity identity;  // recorded when the frame was evicted
};

std::expected<DirectoryIdentity, SystemError> identity_of(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return std::unexpected(SystemError::from_errno());
  return DirectoryIdentity{status.st_dev, status.st_ino};
}

std::expected<void, SystemError> unlink_entry(int dir_fd, const char* name, int flags) {
  if (::unlinkat(dir_fd, name, flags) == 0 || errno == ENOENT) return {};
  return std::unexpected(SystemError::from_errno());
}

// Walks below a start directory, handing each entry to `Visitor`:
//   on_entry(dir_fd, entry) -> Step or error: look at an entry of the directory `dir_fd`;
//   on_open_failed(dir_fd, name, error): a directory it asked to enter could not be opened;
//   on_leave(dir_fd, name): everything below `name` has been walked;
//   kToleratesErrors: a listing that cannot be read ends that directory instead of the walk.
// Any error a visitor returns ends the walk with that error.
template <class Visitor>
class TreeWalk {
 public:
  explicit TreeWalk(Visitor& visitor) : visitor_(visitor) {}

  std::expected<void, SystemError> run(UniqueFd start) {
    auto stream = DirectoryStream::open(std::move(start));
    if (!stream) return std::unexpected(stream.error());
    frames_.push_back(Frame{{}, std::move(*stream), {}, 0, {}});
    while (!frames_.empty()) {
      auto entry = next_entry(frames_.back());
      if (!entry) return std::unexpected(entry.error());
      if (!*entry) {
        if (auto left = leave(); !left) return left;
        continue;
      }
      auto step = visitor_.on_entry(frames_.back().stream.fd(), **entry);
      if (!step) return std::unexpected(step.error());
      if (*step == Step::Descend) {
        if (auto entered = descend((*entry)->name); !entered) return entered;
      }
    }
    return {};
  }

 private:
  std::expected<std::optional<DirectoryEntry>, SystemError> next_entry(Frame& frame) {
    if (frame.next_pending < frame.pending.size()) {
      const PendingEntry& pending = frame.pending[frame.next_pending++];
      return DirectoryEntry{pending.name.c_str(), pending.type};
    }
    auto entry = frame.stream.next();
    if (!entry && (Visitor::kToleratesErrors || is_deleted(entry.error()))) return std::nullopt;
    return entry;
  }

  // Listing a directory that someone else deleted meanwhile fails with ENOENT: it holds nothing.
  static bool is_deleted(const SystemError& error) { return error.number() == ENOENT; }

  std::expected<void, SystemError> descend(const char* name) {
    while (frames_.size() - first_open_ >= kMaxOpenDirectories) {
      if (auto evicted = evict_shallowest(); !evicted) return evicted;
    }
    const int dir_fd = frames_.back().stream.fd();
    auto directory = open_directory_at(dir_fd, name);
    while (!directory && is_descriptor_shortage(directory.error().number()) &&
           first_open_ + 1 < frames_.size()) {
      if (auto evicted = evict_shallowest(); !evicted) return evicted;
      directory = open_directory_at(dir_fd, name);
    }
    if (!directory) return visitor_.on_open_failed(dir_fd, name, directory.error());
    auto stream = DirectoryStream::open(std::move(*directory));
    if (!stream) return visitor_.on_open_failed(dir_fd, name, stream.error());
    frames_.push_back(Frame{name, std::move(*stream), {}, 0, {}});
    return {};
  }

  std::expected<void, SystemError> leave() {
    if (frames_.size() == 1) {
      frames_.pop_back();
      return {};
    }
    const std::size_t parent = frames_.size() - 2;
    if (parent < first_open_) {
      auto reopened = reopen_parent(frames_.back().stream.fd(), frames_[parent].identity);
      if (!reopened) return std::unexpected(reopened.error());
      frames_[parent].stream = DirectoryStream::handle_only(std::move(*reopened));
      first_open_ = parent;
    }
    const std::string name = std::move(frames_.back().name);
    frames_.pop_back();  // closes the child's handle before its directory is removed
    return visitor_.on_leave(frames_.back().stream.fd(), name.c_str());
  }

  // Closes the handle of the shallowest open frame, never the one the walk is working in.
  std::expected<void, SystemError> evict_shallowest() {
    Frame& frame = frames_[first_open_];
    if (frame.next_pending == frame.pending.size()) {
      frame.pending.clear();
      frame.next_pending = 0;
    }
    for (;;) {
      auto entry = frame.stream.next();
      if (!entry) {
        if (Visitor::kToleratesErrors || is_deleted(entry.error())) break;
        return std::unexpected(entry.error());
      }
      if (!*entry) break;
      frame.pending.push_back({(*entry)->name, (*entry)->type});
    }
    auto identity = identity_of(frame.stream.fd());
    if (!identity) return std::unexpected(identity.error());
    frame.identity = *identity;
    frame.stream.close();
    ++first_open_;
    return {};
  }

  static bool is_descriptor_shortage(int number) { return number == EMFILE || number == ENFILE; }

  Visitor& visitor_;
  std::vector<Frame> frames_;
  std::size_t first_open_ = 0;  // frames from here to the top hold a handle
};

class MeasureVisitor {
 public:
  static constexpr bool kToleratesErrors = true;

  std::expected<Step, SystemError> on_entry(int dir_fd, const DirectoryEntry& entry) {
    if (entry.type == DT_DIR) return Step::Descend;
    if (entry.type != DT_REG && entry.type != DT_UNKNOWN) return Step::Next;
    struct stat status {};
    if (::fstatat(dir_fd, entry.name, &status, AT_SYMLINK_NOFOLLOW) != 0) return Step::Next;
    if (S_ISREG(status.st_mode)) {
      total_ += static_cast<std::uint64_t>(status.st_size);
      return Step::Next;
    }
    return entry.type == DT_UNKNOWN && S_ISDIR(status.st_mode) ? Step::Descend : Step::Next;
  }

  std::expected<void, SystemError> on_open_failed(int, const char*, const SystemError&) {
    return {};
  }

  std::expected<void, SystemError> on_leave(int, const char*) { return {}; }

  [[nodiscard]] std::uint64_t total() const { return total_; }

 private:
  std::uint64_t total_ = 0;
};

class RemovalVisitor {
 public:
  static constexpr bool kToleratesErrors = false;

  std::expected<Step, SystemError> on_entry(int dir_fd, const DirectoryEntry& entry) {
    if (entry.type == DT_DIR || entry.type == DT_UNKNOWN) return Step::Descend;
    if (auto removed = unlink_entry(dir_fd, entry.name, 0); !removed) {
      return std::unexpected(removed.error());
    }
    return Step::Next;
  }

  // A name listed as a directory (or of unknown type) that does not open as one is a link or a
  // file, or was swapped for one meanwhile: it goes as such.
  std::expected<void, SystemError> on_open_failed(int dir_fd, const char* name,
                                                  const SystemError& error) {
    const int number = error.number();
    if (number == ENOENT) return {};
    if (number == ENOTDIR || number == ELOOP) return unlink_entry(dir_fd, name, 0);
    return std::unexpected(error);
  }

  std::expected<void, SystemError> on_leave(int dir_fd, const char* name) {
    return unlink_entry(dir_fd, name, AT_REMOVEDIR);
  }
};

}  // namespace

std::uint64_t measure_directory(UniqueFd directory) {
  MeasureVisitor visitor;
  // A walk cut short (a parent that cannot be verified) still counted what it saw.
  (void)TreeWalk<MeasureVisitor>(visitor).run(std::move(directory));
  return visitor.total();
}

std::expected<void, SystemError> empty_directory(UniqueFd directory) {
  RemovalVisitor visitor;
  return TreeWalk<RemovalVisitor>(visitor).run(std::move(directory));
}

std::expected<void, SystemError> remove_entry_at(int dir_fd, const char* name, unsigned char type) {
  RemovalVisitor visitor;
  if (type != DT_DIR && type != DT_UNKNOWN) return unlink_entry(dir_fd, name, 0);
  auto directory = open_directory_at(dir_fd, name);
  if (!directory) return visitor.on_open_failed(dir_fd, name, directory.error());
  if (auto emptied = empty_directory(std::move(*directory)); !emptied) return emptied;
  return unlink_entry(dir_fd, name, AT_REMOVEDIR);
}

std::expected<UniqueFd, SystemError> reopen_parent(int child_fd,
                                                   const DirectoryIdentity& expected) {
  auto parent = open_directory_at(child_fd, "..");
  if (!parent) return parent;
  auto identity = identity_of(parent->get());
  if (!identity) return std::unexpected(identity.error());
  if (*identity != expected) return std::unexpected(SystemError(ESTALE));
  return parent;
}

}  // namespace sorvik_lib::cleaner
