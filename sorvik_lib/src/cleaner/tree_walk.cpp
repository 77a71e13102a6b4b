// Walking a directory tree through handles, for measuring it, removing it and emptying it.
//
// The walk. Every pass walks the same way: depth first, in each directory's own listing order, on
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
// The start is a frame like the others, through a handle the caller opened and hands over: for a
// removal, with the handle of the directory that holds it, so leaving the start follows the rule
// of every directory. An emptied directory is no frame: the emptying lists it itself and hands
// each entry to a removal walk of its own; an entry that cannot go fails alone, and the emptying
// goes on with the next, never trying that one again.
//
// The descriptor budget. At most kMaxOpenDirectories frames hold a handle, always the deepest
// ones, a contiguous run at the top of the stack. Going deeper evicts the shallowest open frame:
// the rest of its listing is read into memory (so a measure never counts an entry twice and a
// removal never loses its place), its device and inode are recorded, and its handle is closed.
// Coming back up to an evicted frame, the walk reopens it as ".." of the child it is leaving.
// Should the process run out of descriptors anyway (a low RLIMIT_NOFILE, or many held by the
// caller), the walk evicts further and retries, down to the single handle it is working in.
//
// Why a swapped directory cannot lead the walk outside the tree. Going down, each step opens a
// name relative to a handle the walk holds, without following links, so what it enters is a real
// directory inside the one it is in; a link put in place of a directory is removed as a link.
// Going up needs no lookup while the parent's handle is open. Only an evicted parent is reached
// through "..", which names wherever the child is now: had someone moved the child, ".." would be
// its new place. So the reopened directory must have the device and inode recorded on the way
// down, or the walk stops with ESTALE without touching anything more. A directory moved away while
// the walk holds its handle is still the one it was emptying; the final unlinkat of its old name
// then finds nothing (ENOENT, not an error) or whatever took the name, which AT_REMOVEDIR removes
// only if it is an empty directory. A directory someone else deletes while the walk holds it fails
// its listing with ENOENT; it holds nothing any more, so the walk leaves it as done, and a removal
// counts that as the vanished entry it is.
//
// Directories no walk may enter. A system directory can sit inside an ordinary tree under a second
// name: a bind mount, or on macOS the data volume behind the home folders' firmlinks. Its name says
// nothing, so the walk reads the status of every directory it opens (one call on the handle it
// holds) and compares its device and inode with the ones the caller names, before listing it. The
// same status tells the root of another mounted filesystem (a device other than its parent's, or
// on Linux the mark statx gives a bind mount), which no walk enters either: its volume is not part
// of the tree. The measure runs before anything of a path goes, so a path holding either is
// refused whole (an emptying leaves whole the entry that holds a mount); the removal checks again
// in case one was moved or mounted in meanwhile.
//
// Listings that miss entries. Some filesystems (APFS, HFS+) reorder a directory while entries are
// deleted from it, so one pass can miss entries and the final rmdir finds it not empty. Leaving a
// directory then lists it again, through its parent's handle as any descent, and goes on while a
// pass removes something; a pass that removes nothing ends it with the error. An emptied
// directory, which is never removed, is listed again by the same rule.
#include "tree_walk.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "directory_stream.hpp"
#include "sorvik_lib/sys/file_status.hpp"
#include "sorvik_lib/sys/path_calls.hpp"

namespace sorvik_lib::cleaner {

using sys::SystemError;
using sys::UniqueFd;

namespace {

// What a visitor asks of the walk after seeing an entry.
enum class Step { Next, Descend };

struct PendingEntry {
  std::string name;
  unsigned char type;
  ino_t inode;
};

struct Frame {
  std::string name;  // in the parent directory
  DirectoryStream stream;
  std::vector<PendingEntry> pending;  // read ahead when the frame was evicted
  std::size_t next_pending = 0;
  FileIdentity identity;             // read when it was opened
  std::uint64_t removed_before = 0;  // the visitor's count when its listing began
  int listing = 1;                   // how many times the directory has been listed
};

// Listing a directory that someone else deleted meanwhile fails with ENOENT: it holds nothing.
bool is_deleted(const SystemError& error) { return error.number() == ENOENT; }

bool is_unlinked(int fd) {
  struct stat status {};
  return ::fstat(fd, &status) == 0 && status.st_nlink == 0;
}

// The link a kept root is emptied through, listed in the directory of `device`.
bool is_kept_link(const WalkControls& controls, const DirectoryEntry& entry, dev_t device) {
  return controls.kept_link && (entry.type == DT_LNK || entry.type == DT_UNKNOWN) &&
         entry.inode == controls.kept_link->inode && device == controls.kept_link->device;
}

// Walks below a start directory, handing each entry to `Visitor`:
//   on_entry(dir_fd, entry) -> Step or error: look at an entry of the directory `dir_fd`;
//   on_open_failed(dir_fd, name, error): a directory it asked to enter could not be opened;
//   on_leave(dir_fd, name): everything below `name` has been walked;
//   on_start_entry(name): the walk is at `name`, an entry of the start, and all below it;
//   on_mount(), on_kept_link(): below the start entry at hand is another filesystem's root (which
//     a measure does not enter, and a removal stops at with EBUSY) or the link a kept root is
//     emptied through (which stays);
//   removed(): how many entries it has removed so far;
//   kToleratesErrors: a listing that cannot be read ends that directory instead of the walk;
//   kRemoves: it removes what it sees, so a directory may be removed as soon as it is empty.
// Any error a visitor returns ends the walk with that error.
template <class Visitor>
class TreeWalk {
 public:
  // `start_parent_device`: where the start must not be another filesystem's root.
  TreeWalk(Visitor& visitor, const WalkControls& controls, int start_parent,
           std::optional<dev_t> start_parent_device = std::nullopt)
      : visitor_(visitor),
        controls_(controls),
        start_parent_(start_parent),
        start_parent_device_(start_parent_device) {}

  // Walks below the directory `start` (`status`), opened as `name` of the start's parent.
  [[nodiscard]] std::expected<void, CleanError> run(const char* name, UniqueFd start,
                                                    const sys::FileStatus& status) {
    if (auto entered = enter(name, std::move(start), status); !entered) return entered;
    while (!frames_.empty()) {
      if (auto stepped = step(); !stepped) return stepped;
    }
    return {};
  }

 private:
  // One entry of the deepest directory, or leaving that directory once its listing is done.
  [[nodiscard]] std::expected<void, CleanError> step() {
    if constexpr (Visitor::kRemoves) {
      if (remove_if_already_empty()) return {};
    }
    const bool in_start = frames_.size() == 1;
    auto entry = next_entry(frames_.back());
    if (!entry) return failed(entry.error());
    if (!*entry) return leave();
    const DirectoryEntry found = **entry;
    const FileIdentity& here = frames_.back().identity;
    if (in_start) visitor_.on_start_entry(found.name);
    if (controls_.preview != nullptr && controls_.preview->entry_gone(here, found.name)) return {};
    if (is_kept_link(controls_, found, here.device)) {
      visitor_.on_kept_link();
      return {};
    }
    // The entry at hand is finished before a cancel is seen, never halfway.
    if (controls_.cancelled()) return std::unexpected(CleanError::cancelled());
    const int dir_fd = frames_.back().stream.fd();
    auto next = visitor_.on_entry(dir_fd, found);
    if (!next) return failed(next.error());
    if (*next == Step::Descend) return descend(dir_fd, found.name);
    return {};
  }

  [[nodiscard]] std::expected<std::optional<DirectoryEntry>, SystemError> next_entry(Frame& frame) {
    if (frame.next_pending < frame.pending.size()) {
      const PendingEntry& pending = frame.pending[frame.next_pending++];
      return DirectoryEntry{pending.name.c_str(), pending.type, pending.inode};
    }
    auto entry = frame.stream.next();
    if (!entry && (Visitor::kToleratesErrors || is_deleted(entry.error()))) return std::nullopt;
    return entry;
  }

  // A listing read in a batch that left the buffer half empty has almost surely ended, and the
  // read that would say so costs a system call per directory. Removing the directory settles it
  // instead: rmdir succeeds only on an empty directory, and when it fails the listing simply goes
  // on. Only while the parent's handle is open.
  bool remove_if_already_empty() {
    const bool parent_open =
        frames_.size() >= 2 ? frames_.size() - 2 >= first_open_ : start_parent_ >= 0;
    if (!parent_open) return false;
    Frame& frame = frames_.back();
    if (frame.next_pending < frame.pending.size() || !frame.stream.ended_short()) return false;
    const int parent_fd =
        frames_.size() >= 2 ? frames_[frames_.size() - 2].stream.fd() : start_parent_;
    if (!visitor_.on_leave(parent_fd, frame.name.c_str())) return false;
    frames_.pop_back();
    return true;
  }

  // Whether the walk may enter the directory `status`: not a forbidden one (refused, or left out
  // when so told), not one an earlier path of a dry run took, and not another filesystem's root: a
  // device other than its parent's, or marked as a mount root (a bind mount of the same
  // filesystem). The start is looked at for that only when its parent's device is known.
  [[nodiscard]] std::expected<bool, CleanError> admit(const sys::FileStatus& status) {
    const FileIdentity identity{status.device, status.inode};
    if (controls_.is_forbidden(identity)) {
      if (controls_.skip_forbidden) return false;
      return std::unexpected(CleanError::forbidden());
    }
    if (controls_.preview != nullptr && controls_.preview->directory_removed(identity))
      return false;
    const auto parent_device =
        frames_.empty() ? start_parent_device_ : std::optional(frames_.back().identity.device);
    if (parent_device && (status.marked_mount_root || status.device != *parent_device)) {
      if constexpr (Visitor::kRemoves)
        return std::unexpected(CleanError::part_way(SystemError(EBUSY)));
      visitor_.on_mount();
      return false;
    }
    return true;
  }

  // Makes the directory `name` (`status`) the deepest frame, if the walk may enter it.
  [[nodiscard]] std::expected<void, CleanError> enter(const char* name, UniqueFd directory,
                                                      const sys::FileStatus& status) {
    auto admitted = admit(status);
    if (!admitted || !*admitted) {
      return admitted ? std::expected<void, CleanError>() : std::unexpected(admitted.error());
    }
    auto stream = DirectoryStream::open(std::move(directory));
    if (!stream) return failed(stream.error());
    frames_.push_back(
        Frame{name, std::move(*stream), {}, 0, {status.device, status.inode}, visitor_.removed()});
    return {};
  }

  // Opens the directory `name` of `dir_fd` and enters it, first giving handles back when the
  // budget, or the process, has none to spare.
  [[nodiscard]] std::expected<void, CleanError> descend(int dir_fd, const char* name) {
    while (frames_.size() - first_open_ >= kMaxOpenDirectories) {
      if (auto evicted = evict_shallowest(); !evicted) return failed(evicted.error());
    }
    auto directory = sys::open_directory_at(dir_fd, name);
    while (!directory && is_descriptor_shortage(directory.error().number()) &&
           first_open_ + 1 < frames_.size()) {
      if (auto evicted = evict_shallowest(); !evicted) return failed(evicted.error());
      directory = sys::open_directory_at(dir_fd, name);
    }
    if (!directory) {
      if (auto handled = visitor_.on_open_failed(dir_fd, name, directory.error()); !handled) {
        return failed(handled.error());
      }
      return {};
    }
    // One status call on the handle says which directory it is and whether it is a mount's root.
    const auto status = sys::status_of(directory->get());
    if (!status) return failed(status.error());
    return enter(name, std::move(*directory), *status);
  }

  // Pops the deepest frame, its parent's handle open first: an evicted parent is reopened.
  [[nodiscard]] std::expected<Frame, CleanError> ascend() {
    if (frames_.size() >= 2 && frames_.size() - 2 < first_open_) {
      const std::size_t parent = frames_.size() - 2;
      auto reopened = reopen_parent(frames_[parent + 1].stream.fd(), frames_[parent].identity);
      if (!reopened) return failed(reopened.error());
      frames_[parent].stream = DirectoryStream::handle_only(std::move(*reopened));
      first_open_ = parent;
    }
    Frame left = std::move(frames_.back());
    frames_.pop_back();
    left.stream.close();  // before its directory is removed
    return left;
  }

  [[nodiscard]] std::expected<void, CleanError> leave() {
    auto left = ascend();
    if (!left) return std::unexpected(left.error());
    const int parent_fd = frames_.empty() ? start_parent_ : frames_.back().stream.fd();
    const auto gone = visitor_.on_leave(parent_fd, left->name.c_str());
    if (gone) return {};
    // A listing that missed entries: list the directory again.
    if (gone.error().number() == ENOTEMPTY &&
        lists_again(left->listing, visitor_.removed() > left->removed_before)) {
      const std::size_t depth = frames_.size();
      auto again = descend(parent_fd, left->name.c_str());
      if (frames_.size() > depth) frames_.back().listing = left->listing + 1;
      return again;
    }
    return failed(gone.error());
  }

  // Closes the handle of the shallowest open frame, never the one the walk is working in.
  [[nodiscard]] std::expected<void, SystemError> evict_shallowest() {
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
      frame.pending.push_back({(*entry)->name, (*entry)->type, (*entry)->inode});
    }
    frame.stream.close();
    ++first_open_;
    return {};
  }

  static bool is_descriptor_shortage(int number) { return number == EMFILE || number == ENFILE; }

  // A removal's failure comes once it has begun; a measure's, before anything goes.
  [[nodiscard]] static std::unexpected<CleanError> failed(const SystemError& error) {
    return std::unexpected(Visitor::kRemoves ? CleanError::part_way(error)
                                             : CleanError::not_begun(error));
  }

  Visitor& visitor_;
  const WalkControls& controls_;
  const int start_parent_;  // the start's parent handle; none (-1) for a measure
  const std::optional<dev_t> start_parent_device_;
  std::vector<Frame> frames_;
  std::size_t first_open_ = 0;  // frames from here to the top hold a handle
};

class MeasureVisitor {
 public:
  static constexpr bool kToleratesErrors = true;
  static constexpr bool kRemoves = false;

  explicit MeasureVisitor(const WalkControls& controls) : controls_(controls) {}

  [[nodiscard]] std::expected<Step, SystemError> on_entry(int dir_fd, const DirectoryEntry& entry) {
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

  static std::expected<void, SystemError> on_open_failed(int, const char*, const SystemError&) {
    return {};
  }

  [[nodiscard]] std::expected<void, SystemError> on_leave(int, const char*) { return {}; }

  [[nodiscard]] static std::uint64_t removed() { return 0; }

  void on_start_entry(const char* name) {
    close_start_entry();
    at_hand_ = {name, true, measure_.bytes, measure_.allocated};
  }

  void on_mount() { holds_ = true; }
  void on_kept_link() { holds_ = holds_.value_or(false); }

  [[nodiscard]] TreeMeasure take_measure() {
    close_start_entry();
    return std::move(measure_);
  }

 private:
  // The entry of the start just walked cannot go whole: what was counted inside it.
  void close_start_entry() {
    if (!holds_) return;
    measure_.left_whole.push_back({std::move(at_hand_.name), *holds_,
                                   measure_.bytes - at_hand_.bytes,
                                   measure_.allocated - at_hand_.allocated});
    holds_.reset();
  }

  const WalkControls& controls_;
  TreeMeasure measure_;
  EntryLeftWhole at_hand_;     // the entry of the start being walked, the figures before it
  std::optional<bool> holds_;  // a mount (true) or the kept link below the entry at hand
};

class RemovalVisitor {
 public:
  static constexpr bool kToleratesErrors = false;
  static constexpr bool kRemoves = true;

  explicit RemovalVisitor(const WalkControls& controls) : controls_(controls) {}

  [[nodiscard]] std::expected<Step, SystemError> on_entry(int dir_fd, const DirectoryEntry& entry) {
    if (entry.type == DT_DIR || entry.type == DT_UNKNOWN) return Step::Descend;
    if (auto removed = unlink(dir_fd, entry.name, 0); !removed)
      return std::unexpected(removed.error());
    return Step::Next;
  }

  // A name that does not open as a directory is, or was swapped for, a link or file: it goes so.
  [[nodiscard]] std::expected<void, SystemError> on_open_failed(int dir_fd, const char* name,
                                                                const SystemError& error) {
    const int number = error.number();
    if (number == ENOENT) return {};
    if (number == ENOTDIR || number == ELOOP) return unlink(dir_fd, name, 0);
    return std::unexpected(error);
  }

  [[nodiscard]] std::expected<void, SystemError> on_leave(int dir_fd, const char* name) {
    return unlink(dir_fd, name, AT_REMOVEDIR);
  }

  [[nodiscard]] std::uint64_t removed() const { return removed_; }
  // The last entry it came to remove was gone already.
  [[nodiscard]] bool last_vanished() const { return last_vanished_; }

  static void on_start_entry(const char*) {}
  static void on_mount() {}
  static void on_kept_link() {}

  // unlinkat that counts what went; a vanished entry is not an error.
  [[nodiscard]] std::expected<void, SystemError> unlink(int dir_fd, const char* name, int flags) {
    const bool went = ::unlinkat(dir_fd, name, flags) == 0;
    last_vanished_ = !went && errno == ENOENT;
    if (!went && !last_vanished_) return std::unexpected(SystemError::from_errno());
    if (went) ++removed_;
    if (went && controls_.progress != nullptr) controls_.progress->count_entry();
    return {};
  }

 private:
  const WalkControls& controls_;
  std::uint64_t removed_ = 0;
  bool last_vanished_ = false;
};

// Removes the entry `entry` of the emptied directory `dir_fd` (on `device`) as a removal walk
// takes any entry: a directory with all below it, anything else as itself.
[[nodiscard]] std::expected<void, CleanError> remove_entry(int dir_fd, dev_t device,
                                                           const DirectoryEntry& entry,
                                                           const WalkControls& controls,
                                                           RemovalVisitor& visitor) {
  auto step = visitor.on_entry(dir_fd, entry);
  if (!step) return std::unexpected(CleanError::part_way(step.error()));
  if (*step == Step::Next) return {};
  auto directory = sys::open_directory_at(dir_fd, entry.name);
  if (!directory) {
    auto removed = visitor.on_open_failed(dir_fd, entry.name, directory.error());
    if (!removed) return std::unexpected(CleanError::part_way(removed.error()));
    return {};
  }
  const auto status = sys::status_of(directory->get());
  if (!status) return std::unexpected(CleanError::part_way(status.error()));
  return TreeWalk<RemovalVisitor>(visitor, controls, dir_fd, device)
      .run(entry.name, std::move(*directory), *status);
}

}  // namespace

TreeMeasure measure_directory(UniqueFd directory, const sys::FileStatus& status,
                              const WalkControls& controls) {
  MeasureVisitor visitor(controls);
  auto walked =
      TreeWalk<MeasureVisitor>(visitor, controls, -1).run("", std::move(directory), status);
  TreeMeasure measure = visitor.take_measure();
  // A walk cut short by a read error (a parent that cannot be verified) still counted what it saw.
  if (!walked && walked.error().kind() != CleanError::Kind::NotBegun) measure.stop = walked.error();
  return measure;
}

std::expected<bool, CleanError> remove_directory_at(int parent_fd, const char* name,
                                                    UniqueFd directory,
                                                    const sys::FileStatus& status,
                                                    const WalkControls& controls) {
  RemovalVisitor visitor(controls);
  auto removed = TreeWalk<RemovalVisitor>(visitor, controls, parent_fd)
                     .run(name, std::move(directory), status);
  if (!removed) return std::unexpected(removed.error());
  // The walk's last removal, once it succeeds, is the directory's own.
  return visitor.last_vanished();
}

void empty_directory(int directory_fd, const sys::FileStatus& status, const WalkControls& controls,
                     const std::set<std::string>& left_whole, TreeOutcome& outcome) {
  std::set<std::string, std::less<>> failed_entries;
  RemovalVisitor visitor(controls);
  for (int listing = 1;; ++listing) {
    const std::uint64_t removed_before = visitor.removed();
    // Each pass lists through a handle of its own, as a removal's relisting does.
    auto handle = sys::open_directory_at(directory_fd, ".");
    auto stream =
        handle ? DirectoryStream::open(std::move(*handle)) : std::unexpected(handle.error());
    for (bool listed_any = false;; listed_any = true) {
      auto entry = stream ? stream->next() : std::unexpected(stream.error());
      // Deleted by someone else meanwhile: it holds nothing more. (Where a listing does not say
      // so, a directory no name links to any more is one.)
      if ((!entry && is_deleted(entry.error())) ||
          (entry && !*entry && !listed_any && listing == 1 && is_unlinked(stream->fd()))) {
        outcome.absent = true;
        return;
      }
      if (!entry)
        return outcome.entry_failures.push_back({{}, CleanError::part_way(entry.error())});
      if (!*entry) break;
      const DirectoryEntry found = **entry;
      if (left_whole.contains(found.name) || failed_entries.contains(found.name) ||
          is_kept_link(controls, found, status.device)) {
        continue;
      }
      auto removed = controls.cancelled()
                         ? std::unexpected(CleanError::cancelled())
                         : remove_entry(stream->fd(), status.device, found, controls, visitor);
      if (removed) continue;
      const CleanError::Kind kind = removed.error().kind();
      if (kind == CleanError::Kind::Forbidden || kind == CleanError::Kind::Cancelled) {
        outcome.error = removed.error();
        return;
      }
      outcome.entry_failures.push_back({found.name, removed.error()});
      failed_entries.emplace(found.name);
    }
    if (!lists_again(listing, visitor.removed() > removed_before)) return;
  }
}

std::expected<UniqueFd, SystemError> reopen_parent(int child_fd, const FileIdentity& expected) {
  auto parent = sys::open_directory_at(child_fd, "..");
  if (!parent) return parent;
  const auto status = sys::status_of(parent->get());
  if (!status) return std::unexpected(status.error());
  if (FileIdentity{status->device, status->inode} != expected) {
    return std::unexpected(SystemError(ESTALE));
  }
  return parent;
}

}  // namespace sorvik_lib::cleaner
