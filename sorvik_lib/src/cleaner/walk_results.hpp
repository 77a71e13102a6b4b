// What walks hand back: the figures of a measure, and the entries an emptying could not remove.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sorvik_lib/cleaner/clean_error.hpp"
#include "sorvik_lib/types/saturating.hpp"
#include "walk_controls.hpp"

namespace sorvik_lib::cleaner {

// An entry of a measured directory that is, or holds somewhere below it, the root of another
// mounted filesystem: no walk enters that root, so the entry cannot go whole.
struct EntryHoldingMount {
  std::string name;
  std::uint64_t bytes = 0;  // what the measure counted inside it, the mounted volume aside
  std::uint64_t allocated = 0;
};

struct TreeMeasure {
  std::uint64_t bytes = 0;      // apparent lengths of the regular files, once per link
  std::uint64_t allocated = 0;  // their allocated blocks, a file of several links once
  std::uint64_t entries = 0;    // everything listed, the start aside
  // Set when the walk met a forbidden directory or was cancelled; what it counted so far stays.
  // Whatever cannot be read is skipped and is no reason to stop.
  std::optional<CleanError> stop;
  // The entries of the start that hold a mount; the mounted volumes themselves count nothing.
  std::vector<EntryHoldingMount> holding_mounts;
};

// Adds the regular file `status` to `measure`: its apparent length, and its allocated blocks
// unless `controls` has counted them already under another link. By the time a later name of a
// file of several links is met the others may be gone, so it is looked up whatever its link count.
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

// Told of an entry of an emptied directory that could not go, by its name, with the system's
// reason; with no name (nullptr), of the directory itself, whose listing failed.
using EntryFailed = std::function<void(const char* name, const CleanError& error)>;

}  // namespace sorvik_lib::cleaner
