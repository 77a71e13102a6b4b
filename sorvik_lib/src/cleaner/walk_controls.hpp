// What a walk over a tree is told to watch besides its own work: directories it must never enter,
// a cancel flag, the hard-linked files already counted, how far it has come, and in a dry run
// what earlier paths took.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <cstdint>
#include <optional>

#include "preview_view.hpp"
#include "progress_reporter.hpp"
#include "sorvik_lib/cleaner/file_identity.hpp"
#include "sorvik_lib/cleaner/tree_operations.hpp"
#include "sorvik_lib/types/saturating.hpp"

namespace sorvik_lib::cleaner {

struct WalkControls {
  const IdentitySet* forbidden = nullptr;     // directories never entered
  const std::atomic<bool>* cancel = nullptr;  // stops the walk at the next entry once set
  IdentitySet* linked_files = nullptr;        // files of several links whose blocks were counted
  TreeProgressReporter* progress = nullptr;
  // A forbidden directory is left out instead of ending the walk: for measuring what is left of a
  // path, where one may have been moved in since the first measure.
  bool skip_forbidden = false;
  // A dry run's record of what earlier paths take: a measure leaves it out.
  const PreviewView* preview = nullptr;
  // The link a kept root is emptied through, when it lies inside what it leads to: a measure
  // leaves the entry holding it whole.
  std::optional<FileIdentity> kept_link;

  [[nodiscard]] bool cancelled() const {
    return cancel != nullptr && cancel->load(std::memory_order_relaxed);
  }
  [[nodiscard]] bool is_forbidden(const FileIdentity& identity) const {
    return forbidden != nullptr && forbidden->contains(identity);
  }
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

}  // namespace sorvik_lib::cleaner
