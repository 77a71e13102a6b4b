// What a walk over a tree is told to watch besides its own work: directories it must never enter,
// a cancel flag, the hard-linked files already counted, and how far it has come.
#pragma once

#include <atomic>
#include <cstdint>
#include <variant>

#include "sorvik_lib/cleaner/clean_progress.hpp"
#include "sorvik_lib/cleaner/file_identity.hpp"
#include "sorvik_lib/sys/system_error.hpp"

namespace sorvik_lib::cleaner {

// A walk met one of the directories it must never enter; nothing below it was touched.
struct ForbiddenDirectoryFound {
  friend bool operator==(const ForbiddenDirectoryFound&, const ForbiddenDirectoryFound&) = default;
};

// The cancel flag stopped a walk at an entry; the entries before it are done.
struct WalkCancelled {
  friend bool operator==(const WalkCancelled&, const WalkCancelled&) = default;
};

// Why a walk stopped before its end.
using WalkStop = std::variant<sys::SystemError, ForbiddenDirectoryFound, WalkCancelled>;

// Counts a walk's entries into a TreeProgress and hands it on at most once per interval. The
// clock is read only every few hundred entries, so the count costs next to nothing.
class TreeProgressReporter {
 public:
  TreeProgressReporter(const TreeProgressCallback& callback, std::chrono::milliseconds interval,
                       TreeProgress progress)
      : callback_(callback), interval_(interval), progress_(std::move(progress)) {}

  void count_entry() {
    if ((++progress_.entries & 255) == 0) report_if_due();
  }
  void add_bytes(std::uint64_t bytes) { progress_.bytes += bytes; }

  // Begins another stage of the same path; the entry count starts again.
  void start_stage(TreeStage stage, std::uint64_t entries_total, std::uint64_t bytes);

  [[nodiscard]] const TreeProgress& progress() const { return progress_; }

 private:
  void report_if_due();

  const TreeProgressCallback& callback_;
  const std::chrono::milliseconds interval_;
  TreeProgress progress_;
  std::chrono::steady_clock::time_point last_report_ = std::chrono::steady_clock::now();
};

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
  [[nodiscard]] bool watches_directories() const {
    return forbidden != nullptr && !forbidden->empty();
  }
};

}  // namespace sorvik_lib::cleaner
