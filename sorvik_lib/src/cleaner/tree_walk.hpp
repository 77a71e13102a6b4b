// The walks over a directory tree, all through handles and without recursion: measuring the
// regular files below a directory, removing a directory with everything below it, and emptying a
// directory that stays; and what a walk is told to watch besides its own work.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <cstddef>
#include <expected>
#include <optional>
#include <set>
#include <string>

#include "preview_view.hpp"
#include "progress_reporter.hpp"
#include "sorvik_lib/cleaner/clean_error.hpp"
#include "sorvik_lib/cleaner/file_identity.hpp"
#include "sorvik_lib/cleaner/tree_operations.hpp"
#include "sorvik_lib/sys/file_status.hpp"
#include "sorvik_lib/sys/system_error.hpp"
#include "sorvik_lib/sys/unique_fd.hpp"
#include "sorvik_lib/types/saturating.hpp"

namespace sorvik_lib::cleaner {

// At most this many directory handles of one walk are open at a time, whatever the depth.
inline constexpr std::size_t kMaxOpenDirectories = 16;

// A directory is listed at most this many times in one removal or emptying: APFS and HFS+ miss
// entries deleted during a listing, and one or two more passes find them. Past it, someone adds as
// fast as it is emptied, and its removal fails with ENOTEMPTY instead of going on as long as they
// do.
inline constexpr int kMaxListings = 8;

// Whether to list a directory again after `listings` passes, the last of which removed something
// (`removed_some`) and still left it not empty, or not known to be.
[[nodiscard]] constexpr bool lists_again(int listings, bool removed_some) {
  return removed_some && listings < kMaxListings;
}

struct WalkControls {
  WalkControls() = default;
  explicit WalkControls(const TreeOptions& options)
      : forbidden(options.forbidden), cancel(options.cancel), linked_files(options.linked_files) {}

  const IdentitySet* forbidden = nullptr;     // directories never entered
  const std::atomic<bool>* cancel = nullptr;  // stops the walk at the next entry once set
  IdentitySet* linked_files = nullptr;        // files of several links whose blocks were counted
  TreeProgressReporter* progress = nullptr;
  bool skip_forbidden = false;  // a forbidden directory is left out instead of ending the walk
  const PreviewView* preview = nullptr;   // in a dry run, what earlier paths took: left out
  std::optional<FileIdentity> kept_link;  // the link a kept root is emptied through: it stays

  [[nodiscard]] bool cancelled() const {
    return cancel != nullptr && cancel->load(std::memory_order_relaxed);
  }
  [[nodiscard]] bool is_forbidden(const FileIdentity& identity) const {
    return forbidden != nullptr && forbidden->contains(identity);
  }
};

// Adds the regular file `status` to `measure`: its length, and its blocks unless counted already
// under another link (looked up whatever its link count: the other names may be gone by now).
inline void count_regular_file(const struct stat& status, const WalkControls& controls,
                               TreeMeasure& measure) {
  types::add_saturating(measure.bytes, static_cast<std::uint64_t>(status.st_size));
  if (IdentitySet* linked = controls.linked_files) {
    const FileIdentity identity{status.st_dev, status.st_ino};
    if (status.st_nlink > 1 ? !linked->insert(identity).second
                            : !linked->empty() && linked->contains(identity)) {
      return;
    }
  }
  types::add_saturating(measure.allocated, static_cast<std::uint64_t>(status.st_blocks) * 512);
}

// Measures everything below `directory` (`status`). Links are not followed and count nothing.
[[nodiscard]] TreeMeasure measure_directory(sys::UniqueFd directory, const sys::FileStatus& status,
                                            const WalkControls& controls = {});

// Removes the directory `directory` (`status`), opened as `name` of `parent_fd`, with everything
// below it. A vanished entry is no error; any other stops the removal. True when the directory
// itself had vanished by its turn.
[[nodiscard]] std::expected<bool, CleanError> remove_directory_at(
    int parent_fd, const char* name, sys::UniqueFd directory, const sys::FileStatus& status,
    const WalkControls& controls = {});

// Removes every entry of the directory `directory_fd` (`status`) but those in `left_whole`, each as
// remove_directory_at would. An entry that cannot go fails alone into `outcome`'s entry failures
// (the listing's own with no name) and is not tried again. A forbidden directory or the cancel flag
// ends it with `outcome`'s error; a directory someone else deleted leaves `outcome` absent.
void empty_directory(int directory_fd, const sys::FileStatus& status, const WalkControls& controls,
                     const std::set<std::string>& left_whole, TreeOutcome& outcome);

// Opens the parent of the directory `child_fd` through "..", only if it is still `expected`: else
// ESTALE.
[[nodiscard]] std::expected<sys::UniqueFd, sys::SystemError> reopen_parent(
    int child_fd, const FileIdentity& expected);

}  // namespace sorvik_lib::cleaner
