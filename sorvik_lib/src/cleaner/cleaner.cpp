// The cleaning of a list of paths: existence, measure, then removal or emptying, with progress
// events and one result.
#include "sorvik_lib/cleaner/cleaner.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include "directory_stream.hpp"
#include "sorvik_lib/cleaner/tree.hpp"
#include "sorvik_lib/types/utf8.hpp"
#include "tree_walk.hpp"

namespace sorvik_lib::cleaner {

using sys::SystemError;
using sys::UniqueFd;
using types::CleanResult;
using types::Path;

namespace {

// Status through links, or through none; a path holding a NUL byte names nothing.
bool query_status(const Path& path, int flags, struct stat& status) {
  return path.find('\0') == Path::npos && ::fstatat(AT_FDCWD, path.c_str(), &status, flags) == 0;
}

class CleanRun {
 public:
  CleanRun(const PathSet& preserve_root_paths, const ProgressCallback& on_progress,
           const TopEntryGuard& guard)
      : preserve_root_paths_(preserve_root_paths), on_progress_(on_progress), guard_(guard) {}

  void clean(std::span<const Path> paths, bool dry_run) {
    emit(progress::Started{paths.size()});
    for (std::size_t index = 0; index < paths.size(); ++index) {
      clean_one(paths[index], index, dry_run);
    }
    emit(progress::Finished{result_.bytesFreed});
  }

  CleanResult take_result() { return std::move(result_); }

 private:
  void clean_one(const Path& path, std::uint64_t index, bool dry_run) {
    struct stat status {};
    // A missing path, a dangling link or an unsearchable parent: nothing to do and nothing to say.
    if (!query_status(path, 0, status)) return;
    emit(progress::PathStarted{types::to_utf8_lossy(path), index});
    const bool kept = !preserve_root_paths_.empty() && preserve_root_paths_.contains(path);
    // Removing a link frees only the link, so its target's bytes are never credited; a kept root
    // that is a link is emptied through it and credits what goes.
    const bool is_link =
        query_status(entry_path(path), AT_SYMLINK_NOFOLLOW, status) && S_ISLNK(status.st_mode);
    const std::uint64_t size = is_link && !kept ? 0 : tree_size(path);
    if (dry_run) return credit(path, size);
    if (kept) return empty_kept_root(path, size);
    TopEntryCheck check;
    if (guard_) check = [&](const struct stat& top) { return guard_(path, top); };
    auto removed = remove_path(path, check);
    if (!removed) {
      // Gone since it was found: someone else removed it, so it is neither freed nor failed.
      if (const auto* error = std::get_if<SystemError>(&removed.error());
          error != nullptr && error->number() == ENOENT &&
          !query_status(path, AT_SYMLINK_NOFOLLOW, status)) {
        return;
      }
      return fail(path, message_of(removed.error()));
    }
    credit(path, size);
  }

  void empty_kept_root(const Path& root, std::uint64_t size) {
    auto stream = open_listing(root);
    if (!stream) {
      if (stream.error().number() == ENOENT) return;  // gone since it was found
      return fail(root, stream.error().message());
    }
    if (guard_) {
      struct stat opened {};
      if (::fstat(stream->fd(), &opened) != 0)
        return fail(root, SystemError::from_errno().message());
      if (auto allowed = guard_(root, opened); !allowed) return fail(root, allowed.error());
    }
    bool any_failed = false;
    for (;;) {
      // A listing that cannot be read further ends the emptying; what was listed is dealt with.
      auto entry = stream->next();
      if (!entry || !*entry) break;
      auto removed = remove_entry_at(stream->fd(), (*entry)->name, (*entry)->type);
      if (!removed) {
        result_.errors.push_back({join(root, (*entry)->name), removed.error().message()});
        any_failed = true;
      }
    }
    stream->close();
    if (any_failed) {
      const std::uint64_t remaining = tree_size(root);
      size = size > remaining ? size - remaining : 0;
      if (size == 0) return;
    }
    result_.removed.push_back(root);
    result_.bytesFreed += size;
    if (size != 0) emit(progress::PathCleaned{types::to_utf8_lossy(root), size});
  }

  // Lists a kept root, following a link at the root itself.
  static std::expected<DirectoryStream, SystemError> open_listing(const Path& root) {
    if (root.find('\0') != Path::npos) return std::unexpected(SystemError(ENOENT));
    int fd;
    do {
      fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return std::unexpected(SystemError::from_errno());
    return DirectoryStream::open(UniqueFd(fd));
  }

  static Path join(const Path& root, const char* name) {
    Path path = root;
    if (!path.ends_with('/')) path += '/';
    path += name;
    return path;
  }

  void credit(const Path& path, std::uint64_t size) {
    result_.removed.push_back(path);
    result_.bytesFreed += size;
    emit(progress::PathCleaned{types::to_utf8_lossy(path), size});
  }

  void fail(const Path& path, std::string message) {
    emit(progress::PathFailed{types::to_utf8_lossy(path), message});
    result_.errors.push_back({path, std::move(message)});
  }

  void emit(CleanProgress event) const {
    if (on_progress_) on_progress_(std::move(event));
  }

  const PathSet& preserve_root_paths_;
  const ProgressCallback& on_progress_;
  const TopEntryGuard& guard_;
  CleanResult result_;
};

}  // namespace

CleanResult Cleaner::clean(std::span<const Path> paths, bool dry_run,
                           const PathSet& preserve_root_paths,
                           const ProgressCallback& on_progress) {
  return clean(paths, dry_run, preserve_root_paths, on_progress, TopEntryGuard());
}

CleanResult Cleaner::clean(std::span<const Path> paths, bool dry_run,
                           const PathSet& preserve_root_paths, const ProgressCallback& on_progress,
                           const TopEntryGuard& guard) {
  CleanControls controls;
  controls.guard = guard;
  return run(paths, dry_run, preserve_root_paths, on_progress, controls).result;
}

CleanOutcome Cleaner::run(std::span<const Path> paths, bool dry_run,
                          const PathSet& preserve_root_paths, const ProgressCallback& on_progress,
                          const CleanControls& controls) {
  CleanRun run(preserve_root_paths, on_progress, controls.guard);
  run.clean(paths, dry_run);
  return CleanOutcome{run.take_result(), 0, false};
}

}  // namespace sorvik_lib::cleaner
