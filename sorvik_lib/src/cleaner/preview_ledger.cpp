// The dry run's record of what it has taken, by resolved location and by spelling.
#include "preview_ledger.hpp"

#include <string_view>

#include "sorvik_lib/cleaner/path_set.hpp"
#include "sorvik_lib/cleaner/tree.hpp"
#include "sorvik_lib/sys/path_calls.hpp"
#include "sorvik_lib/types/saturating.hpp"

namespace sorvik_lib::cleaner {

using types::Path;

namespace {

// Calls `visit` with each strict ancestor of the absolute `path`, "/" included.
template <class Visit>
bool any_ancestor(std::string_view path, Visit visit) {
  for (std::size_t end = path.rfind('/'); end != std::string_view::npos && end != 0;
       end = path.rfind('/', end - 1)) {
    if (visit(Path(path.substr(0, end)))) return true;
  }
  return path.size() > 1 && path.starts_with('/') && visit(Path("/"));
}

}  // namespace

std::optional<PathPlace> PreviewLedger::place_of(const Path& path) {
  auto target = sys::resolve_path(path);
  if (!target) return std::nullopt;
  const Path entry = entry_path(path);
  const auto separator = entry.rfind('/');
  if (separator == Path::npos || separator + 1 == entry.size()) return PathPlace{*target, *target};
  auto parent = sys::resolve_path(separator == 0 ? Path("/") : entry.substr(0, separator));
  if (!parent) return std::nullopt;
  if (!parent->ends_with('/')) *parent += '/';
  return PathPlace{*parent + entry.substr(separator + 1), *target};
}

bool PreviewLedger::is_gone(const Path& path, const PathPlace& place) const {
  if (removed_.contains(place.entry)) return true;
  const auto taken = [this](const Path& ancestor) {
    return removed_.contains(ancestor) || emptied_.contains(ancestor);
  };
  if (any_ancestor(place.entry, taken) || any_ancestor(place.target, taken)) return true;
  return any_ancestor(spelled_by_components(path), [this](const Path& ancestor) {
    return removed_spellings_.contains(ancestor);
  });
}

bool PreviewLedger::was_emptied(const PathPlace& place) const {
  return emptied_.contains(place.target);
}

PreviewCredit PreviewLedger::credited_inside(const PathPlace& place) const {
  const Path prefix = place.target.ends_with('/') ? place.target : place.target + '/';
  PreviewCredit total;
  for (const auto* taken : {&removed_, &emptied_}) {
    for (auto it = taken->lower_bound(prefix); it != taken->end() && it->first.starts_with(prefix);
         ++it) {
      types::add_saturating(total.bytes, it->second.bytes);
      types::add_saturating(total.allocated, it->second.allocated);
    }
  }
  return total;
}

void PreviewLedger::record_removed(const Path& path, const PathPlace& place, PreviewCredit credit) {
  removed_.emplace(place.entry, credit);
  removed_spellings_.insert(spelled_by_components(path));
}

void PreviewLedger::record_emptied(const PathPlace& place, PreviewCredit credit) {
  auto [slot, added] = emptied_.emplace(place.target, credit);
  if (!added) {
    types::add_saturating(slot->second.bytes, credit.bytes);
    types::add_saturating(slot->second.allocated, credit.allocated);
  }
}

}  // namespace sorvik_lib::cleaner
