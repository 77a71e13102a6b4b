// What a dry run has already taken, so that it previews the real run: a path that an earlier one
// removes, or lies in a kept root an earlier one empties, is gone by its turn; an ancestor of an
// earlier path frees only what is left of it.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>

#include "sorvik_lib/types/records.hpp"

namespace sorvik_lib::cleaner {

// The bytes a dry run credited to one path.
struct PreviewCredit {
  std::uint64_t bytes = 0;
  std::uint64_t allocated = 0;
};

// Where a path is on disk, without the spellings that reach it.
struct PathPlace {
  types::Path entry;   // the entry itself, a link as the link: its resolved parent and its name
  types::Path target;  // what the path leads to, links followed
};

class PreviewLedger {
 public:
  // Nothing when the path cannot be resolved (then it is not there to be taken either).
  [[nodiscard]] static std::optional<PathPlace> place_of(const types::Path& path);

  // An earlier path removed it, something it lies in, or a link on its way; or it lies in a kept
  // root an earlier path emptied.
  [[nodiscard]] bool is_gone(const types::Path& path, const PathPlace& place) const;

  // An earlier path emptied it as a kept root: what it held is gone.
  [[nodiscard]] bool was_emptied(const PathPlace& place) const;

  // What earlier paths inside it were credited; their bytes are not there to be freed again.
  [[nodiscard]] PreviewCredit credited_inside(const PathPlace& place) const;

  void record_removed(const types::Path& path, const PathPlace& place, PreviewCredit credit);
  void record_emptied(const PathPlace& place, PreviewCredit credit);

 private:
  std::map<types::Path, PreviewCredit> removed_;  // by entry
  std::map<types::Path, PreviewCredit> emptied_;  // by target
  std::set<types::Path> removed_spellings_;       // the removed paths as written, tidied
};

}  // namespace sorvik_lib::cleaner
