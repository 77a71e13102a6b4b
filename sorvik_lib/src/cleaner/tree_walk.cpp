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
//
// Directories no walk may enter. A system directory can sit inside an ordinary tree under a second
// name: a bind mount, or on macOS the data volume that holds the home folders behind their
// firmlinks. Its name says nothing, so when the caller names such directories the walk compares
// the device and inode of every directory it opens (one fstat of the handle it already holds)
// and stops before listing it. The measure runs before anything of a path goes, so a path holding
// one is refused whole; the removal checks again in case one was moved in meanwhile.
//
// Listings that miss entries. Some filesystems (APFS, HFS+) reorder a directory while entries are
// deleted from it, so one pass over its listing can miss entries and the final rmdir finds it not
// empty. The removal then lists it again, through its parent's handle as any descent, and goes on
// while a pass removes something; a pass that removes nothing ends it with the error.
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
  std::optional<DirectoryIdentity> identity;  // read when it was opened or evicted
  std::uint64_t removed_before = 0;           // the visitor's count when its listing began
};

// Walks below a start directory, handing each entry to `Visitor`:
//   on_entry(dir_fd, entry) -> Step or error: look at an entry of the directory `dir_fd`;
//   on_open_failed(dir_fd, name, error): a directory it asked to enter could not be opened;
//   on_leave(dir_fd, name): everything below `name` has been walked;
//   removed(): how many entries it has removed so far;
//   kToleratesErrors: a listing that cannot be read ends that directory instead of the walk;
//   kRemoves: it removes what it sees, so a directory may be removed as soon as it is empty.
// Any error a visitor returns ends the walk with that error.
template <class Visitor>
class TreeWalk {
 public:
  TreeWalk(Visitor& visitor, const WalkControls& controls)
      : visitor_(visitor), controls_(controls) {}

  std::expected<void, WalkStop> run(UniqueFd start) {
    std::optional<DirectoryIdentity> identity;
    if (controls_.watches_directories()) {
      auto checked = check_directory(start.get());
      if (!checked) return std::unexpected(checked.error());
      identity = *checked;
    }
    auto stream = DirectoryStream::open(std::move(start));
    if (!stream) return std::unexpected(stream.error());
    frames_.push_back(Frame{{}, std::move(*stream), {}, 0, identity, visitor_.removed()});
    while (!frames_.empty()) {
      if constexpr (Visitor::kRemoves) {
        if (remove_if_already_empty()) continue;
      }
      auto entry = next_entry(frames_.back());
      if (!entry) return std::unexpected(entry.error());
      if (!*entry) {
        if (auto left = leave(); !left) return left;
        continue;
      }
      // The entry at hand is finished before a cancel is seen, never halfway.
      if (controls_.cancelled()) return std::unexpected(WalkCancelled{});
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

  // A listing read in a batch that left the buffer half empty has almost surely ended, and the
  // read that would say so costs a system call per directory. Removing the directory settles it
  // instead: rmdir succeeds only on an empty directory, and when it fails the listing simply goes
  // on. Only below the start, and only while the parent's handle is open.
  bool remove_if_already_empty() {
    if (frames_.size() < 2 || frames_.size() - 2 < first_open_) return false;
    Frame& frame = frames_.back();
    if (frame.next_pending < frame.pending.size() || !frame.stream.ended_short()) return false;
    if (!visitor_.on_leave(frames_[frames_.size() - 2].stream.fd(), frame.name.c_str())) {
      return false;
    }
    frames_.pop_back();
    return true;
  }

  // Listing a directory that someone else deleted meanwhile fails with ENOENT: it holds nothing.
  static bool is_deleted(const SystemError& error) { return error.number() == ENOENT; }

  // The identity of a directory about to be listed, unless it is one no walk may enter.
  std::expected<DirectoryIdentity, WalkStop> check_directory(int fd) const {
    auto identity = identity_of(fd);
    if (!identity) return std::unexpected(identity.error());
    if (controls_.is_forbidden(*identity)) return std::unexpected(ForbiddenDirectoryFound{});
    return *identity;
  }

  std::expected<void, WalkStop> descend(const char* name) {
    while (frames_.size() - first_open_ >= kMaxOpenDirectories) {
      if (auto evicted = evict_shallowest(); !evicted) return std::unexpected(evicted.error());
    }
    const int dir_fd = frames_.back().stream.fd();
    auto directory = open_directory_at(dir_fd, name);
    while (!directory && is_descriptor_shortage(directory.error().number()) &&
           first_open_ + 1 < frames_.size()) {
      if (auto evicted = evict_shallowest(); !evicted) return std::unexpected(evicted.error());
      directory = open_directory_at(dir_fd, name);
    }
    if (!directory) return forward(visitor_.on_open_failed(dir_fd, name, directory.error()));
    std::optional<DirectoryIdentity> identity;
    if (controls_.watches_directories()) {
      auto checked = check_directory(directory->get());
      if (!checked) {
        const bool skipped = controls_.skip_forbidden &&
                             std::holds_alternative<ForbiddenDirectoryFound>(checked.error());
        if (skipped) return {};
        return std::unexpected(checked.error());
      }
      identity = *checked;
    }
    auto stream = DirectoryStream::open(std::move(*directory));
    if (!stream) return forward(visitor_.on_open_failed(dir_fd, name, stream.error()));
    frames_.push_back(Frame{name, std::move(*stream), {}, 0, identity, visitor_.removed()});
    return {};
  }

  std::expected<void, WalkStop> leave() {
    if (frames_.size() == 1) {
      frames_.pop_back();
      return {};
    }
    const std::size_t parent = frames_.size() - 2;
    if (parent < first_open_) {
      // An evicted frame always had its identity read.
      auto reopened = reopen_parent(frames_.back().stream.fd(), *frames_[parent].identity);
      if (!reopened) return std::unexpected(reopened.error());
      frames_[parent].stream = DirectoryStream::handle_only(std::move(*reopened));
      first_open_ = parent;
    }
    const std::string name = std::move(frames_.back().name);
    const std::uint64_t removed_before = frames_.back().removed_before;
    frames_.pop_back();  // closes the child's handle before its directory is removed
    auto left = visitor_.on_leave(frames_.back().stream.fd(), name.c_str());
    // A listing that missed entries: list the directory again while a pass gets somewhere.
    if (!left && left.error().number() == ENOTEMPTY && visitor_.removed() > removed_before) {
      return descend(name.c_str());
    }
    return forward(std::move(left));
  }

  static std::expected<void, WalkStop> forward(std::expected<void, SystemError> outcome) {
    if (!outcome) return std::unexpected(outcome.error());
    return {};
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
    if (!frame.identity) {
      auto identity = identity_of(frame.stream.fd());
      if (!identity) return std::unexpected(identity.error());
      frame.identity = *identity;
    }
    frame.stream.close();
    ++first_open_;
    return {};
  }

  static bool is_descriptor_shortage(int number) { return number == EMFILE || number == ENFILE; }

  Visitor& visitor_;
  const WalkControls& controls_;
  std::vector<Frame> frames_;
  std::size_t first_open_ = 0;  // frames from here to the top hold a handle
};

class MeasureVisitor {
 public:
  static constexpr bool kToleratesErrors = true;
  static constexpr bool kRemoves = false;

  explicit MeasureVisitor(const WalkControls& controls) : controls_(controls) {}

  std::expected<Step, SystemError> on_entry(int dir_fd, const DirectoryEntry& entry) {
    ++measure_.entries;
    if (controls_.progress != nullptr) controls_.progress->count_entry();
    if (entry.type == DT_DIR) return Step::Descend;
    if (entry.type != DT_REG && entry.type != DT_UNKNOWN) return Step::Next;
    struct stat status {};
    if (::fstatat(dir_fd, entry.name, &status, AT_SYMLINK_NOFOLLOW) != 0) return Step::Next;
    if (S_ISREG(status.st_mode)) {
      count_regular_file(status, controls_, measure_);
      if (controls_.progress != nullptr) {
        controls_.progress->add_bytes(static_cast<std::uint64_t>(status.st_size));
      }
      return Step::Next;
    }
    return entry.type == DT_UNKNOWN && S_ISDIR(status.st_mode) ? Step::Descend : Step::Next;
  }

  std::expected<void, SystemError> on_open_failed(int, const char*, const SystemError&) {
    return {};
  }

  std::expected<void, SystemError> on_leave(int, const char*) { return {}; }

  [[nodiscard]] static std::uint64_t removed() { return 0; }

  TreeMeasure& measure() { return measure_; }

 private:
  const WalkControls& controls_;
  TreeMeasure measure_;
};

class RemovalVisitor {
 public:
  static constexpr bool kToleratesErrors = false;
  static constexpr bool kRemoves = true;

  explicit RemovalVisitor(const WalkControls& controls) : controls_(controls) {}

  std::expected<Step, SystemError> on_entry(int dir_fd, const DirectoryEntry& entry) {
    if (entry.type == DT_DIR || entry.type == DT_UNKNOWN) return Step::Descend;
    if (auto removed = unlink_counted(dir_fd, entry.name, 0); !removed) {
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
    if (number == ENOTDIR || number == ELOOP) return unlink_counted(dir_fd, name, 0);
    return std::unexpected(error);
  }

  std::expected<void, SystemError> on_leave(int dir_fd, const char* name) {
    return unlink_counted(dir_fd, name, AT_REMOVEDIR);
  }

  [[nodiscard]] std::uint64_t removed() const { return removed_; }

  // unlinkat that counts what went; a vanished entry is not an error.
  std::expected<void, SystemError> unlink_counted(int dir_fd, const char* name, int flags) {
    if (::unlinkat(dir_fd, name, flags) == 0) {
      ++removed_;
      if (controls_.progress != nullptr) controls_.progress->count_entry();
      return {};
    }
    if (errno == ENOENT) return {};
    return std::unexpected(SystemError::from_errno());
  }

 private:
  const WalkControls& controls_;
  std::uint64_t removed_ = 0;
};

}  // namespace

void count_regular_file(const struct stat& status, const WalkControls& controls,
                        TreeMeasure& measure) {
  measure.bytes += static_cast<std::uint64_t>(status.st_size);
  // A file of several links occupies its blocks once, whichever name is counted first; by the
  // time a later name is met the others may be gone, so it is looked up whatever its link count.
  if (IdentitySet* linked = controls.linked_files) {
    const FileIdentity identity{status.st_dev, status.st_ino};
    if (status.st_nlink > 1 ? !linked->insert(identity).second
                            : !linked->empty() && linked->contains(identity)) {
      return;
    }
  }
  measure.allocated += static_cast<std::uint64_t>(status.st_blocks) * 512;
}

TreeMeasure measure_directory(UniqueFd directory, const WalkControls& controls) {
  MeasureVisitor visitor(controls);
  // A walk cut short by a read error (a parent that cannot be verified) still counted what it saw.
  auto walked = TreeWalk<MeasureVisitor>(visitor, controls).run(std::move(directory));
  TreeMeasure measure = visitor.measure();
  if (!walked && !std::holds_alternative<SystemError>(walked.error()))
    measure.stop = walked.error();
  return measure;
}

std::expected<std::uint64_t, WalkStop> empty_directory(UniqueFd directory,
                                                       const WalkControls& controls) {
  RemovalVisitor visitor(controls);
  auto walked = TreeWalk<RemovalVisitor>(visitor, controls).run(std::move(directory));
  if (!walked) return std::unexpected(walked.error());
  return visitor.removed();
}

std::expected<std::uint64_t, WalkStop> remove_directory_at(int parent_fd, const char* name,
                                                           UniqueFd directory,
                                                           const WalkControls& controls) {
  RemovalVisitor top(controls);
  std::uint64_t removed = 0;
  for (;;) {
    auto emptied = empty_directory(std::move(directory), controls);
    if (!emptied) return std::unexpected(emptied.error());
    removed += *emptied;
    auto gone = top.on_leave(parent_fd, name);
    if (gone) return removed + top.removed();
    // A listing that missed entries: list the directory again while a pass gets somewhere.
    if (gone.error().number() != ENOTEMPTY || *emptied == 0) return std::unexpected(gone.error());
    auto reopened = open_directory_at(parent_fd, name);
    if (!reopened) {
      if (auto handled = top.on_open_failed(parent_fd, name, reopened.error()); !handled) {
        return std::unexpected(handled.error());
      }
      return removed + top.removed();
    }
    directory = std::move(*reopened);
  }
}

std::expected<std::uint64_t, WalkStop> remove_entry_at(int dir_fd, const char* name,
                                                       unsigned char type,
                                                       const WalkControls& controls) {
  RemovalVisitor visitor(controls);
  if (type != DT_DIR && type != DT_UNKNOWN) {
    if (auto unlinked = visitor.unlink_counted(dir_fd, name, 0); !unlinked) {
      return std::unexpected(unlinked.error());
    }
    return visitor.removed();
  }
  auto directory = open_directory_at(dir_fd, name);
  if (!directory) {
    if (auto handled = visitor.on_open_failed(dir_fd, name, directory.error()); !handled) {
      return std::unexpected(handled.error());
    }
    return visitor.removed();
  }
  return remove_directory_at(dir_fd, name, std::move(*directory), controls);
}

std::expected<FileIdentity, SystemError> identity_of(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return std::unexpected(SystemError::from_errno());
  return FileIdentity{status.st_dev, status.st_ino};
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
