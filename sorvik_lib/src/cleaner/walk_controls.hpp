// What a walk over a tree is told to watch besides its own work: directories it must never enter,
// a cancel flag, the hard-linked files already counted, and how far it has come.
#pragma once

#include <atomic>

#include "progress_reporter.hpp"
#include "sorvik_lib/cleaner/file_identity.hpp"

namespace sorvik_lib::cleaner {

struct WalkControls {
  const IdentitySet* forbidden = nullptr;     // directories never entered
  const std::atomic<bool>* cancel = nullptr;  // stops the walk at the next entry once set
  IdentitySet* linked_files = nullptr;        // files of several links whose blocks were counted
  TreeProgressReporter* progress = nullptr;
  // A forbidden directory is left out instead of ending the walk: for measuring what is left of a
  // path, where one may have been moved in since the first measure.
  bool skip_forbidden = false;

  [[nodiscard]] bool cancelled() const {
    return cancel != nullptr && cancel->load(std::memory_order_relaxed);
  }
  [[nodiscard]] bool is_forbidden(const FileIdentity& identity) const {
    return forbidden != nullptr && forbidden->contains(identity);
  }
};

}  // namespace sorvik_lib::cleaner
