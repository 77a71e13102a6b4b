// Measuring, removing and emptying one path: the tree operations, for the cleaner and any other
// caller. Inside a tree nothing ever follows a symbolic link: links are entries of their own, count
// nothing and are removed, never their targets. The top of a path is reached once: the directory
// holding it is opened by name, the entry is looked at through that handle and checked, and
// everything after goes through handles. A path holding a NUL byte names nothing, and "/" is never
// removed or emptied, whoever asks.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sorvik_lib/cleaner/clean_error.hpp"
#include "sorvik_lib/cleaner/clean_progress.hpp"
#include "sorvik_lib/cleaner/file_identity.hpp"
#include "sorvik_lib/types/records.hpp"

namespace sorvik_lib::cleaner {

// An entry of a measured directory that cannot go whole, with what the measure counted inside it:
// it is, or holds, the root of another mounted filesystem, or the link a kept root is emptied
// through.
struct EntryLeftWhole {
  std::string name;
  bool holds_mount = true;
  std::uint64_t bytes = 0;
  std::uint64_t allocated = 0;
};

struct TreeMeasure {
  std::uint64_t bytes = 0;      // apparent lengths of the regular files, once per link
  std::uint64_t allocated = 0;  // their allocated blocks, a file of several links once
  std::uint64_t entries = 0;    // everything listed, the start aside
  // A forbidden directory met, or the cancel flag; what was counted so far stays. Whatever cannot
  // be read is skipped and is no reason to stop.
  std::optional<CleanError> stop;
  std::vector<EntryLeftWhole> left_whole;  // entries of the start, in listing order
};

// What the top of a path must still be when an operation reaches it, as a screening found it.
struct ExpectedTop {
  FileIdentity entry;   // what the path named itself, a final link as the link
  FileIdentity led_to;  // what it led to, links followed
};

struct TreeOptions {
  std::optional<ExpectedTop> expected;  // else the top fails with Kind::Changed, untouched
  // Directories no walk may enter: met anywhere before anything went, they refuse the whole path
  // (Kind::Forbidden); removing and emptying check every directory again before entering it.
  const IdentitySet* forbidden = nullptr;
  const std::atomic<bool>* cancel = nullptr;  // once set, the walk stops at the next entry
  TreeProgressCallback on_progress;           // at most once per interval
  std::chrono::milliseconds progress_interval = kTreeProgressInterval;
  IdentitySet* linked_files = nullptr;  // files of several links whose blocks were counted
};

// An entry of an emptied directory that could not go; the name is empty for the listing itself.
struct EntryFailure {
  std::string name;
  CleanError error;
};

// What became of one path.
struct TreeOutcome {
  bool absent = false;   // nothing there, or a link leading nowhere: nothing done, nothing said
  TreeMeasure measured;  // before anything went
  std::uint64_t bytes_freed = 0;  // what went: the measure, less what is left after a failure
  std::uint64_t allocated_freed = 0;
  std::vector<EntryFailure> entry_failures;  // an emptying's entries that could not go
  std::optional<CleanError> error;           // the failure of the path itself

  // Everything there went (or, emptied, everything but what stays whole), or nothing was there.
  [[nodiscard]] bool done() const { return !error && entry_failures.empty(); }
};

// The regular files at and below `path`, a hard-linked file once per link. A start that is a link
// to a directory is entered; a link to anything else counts nothing. Never fails: whatever cannot
// be read is skipped.
[[nodiscard]] TreeMeasure measure_tree(const types::Path& path, const TreeOptions& options = {});

// Removes what `path` names: a directory with everything below it, anything else (a link whatever
// it leads to) as itself. Measures it first: a directory holding a forbidden directory, or another
// filesystem's root (EBUSY), is refused before anything goes. A failure part-way stops the removal
// and credits what went.
[[nodiscard]] TreeOutcome remove_tree(const types::Path& path, const TreeOptions& options = {});

// Empties the directory `path` leads to (a final link followed), which stays. An entry that cannot
// go fails alone and the others still go; an entry holding a mount is left whole with EBUSY. A
// `path` that is not a directory fails with ENOTDIR.
[[nodiscard]] TreeOutcome empty_tree(const types::Path& path, const TreeOptions& options = {});

// `path` without the trailing separators and "." components that would make the system resolve a
// link in its last component: "/a/link/" and "/a/link/." name the entry "/a/link". The root and
// paths made only of such parts stay as they are.
[[nodiscard]] types::Path entry_path(const types::Path& path);

}  // namespace sorvik_lib::cleaner
