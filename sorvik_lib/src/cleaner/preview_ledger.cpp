// The dry run's record of what it has taken, by resolved location and by spelling.
#include "preview_ledger.hpp"

#include <cstdlib>
#include <memory>
#include <string_view>

#include "sorvik_lib/cleaner/tree.hpp"

namespace sorvik_lib::cleaner {

using types::Path;

namespace {

std::optional<Path> resolve(const Path& path) {
  if (path.find('\0') != Path::npos) return std::nullopt;
  const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                             &std::free);
  if (!resolved) return std::nullopt;
  return Path(resolved.get());
}

// The path with repeated separators, "." components and a trailing separator dropped.
Path tidy(std::string_view path) {
  Path tidied;
  std::size_t at = 0;
  while (at < path.size()) {
    const std::size_t end = std::min(path.find('/', at), path.size());
    const std::string_view component = path.substr(at, end - at);
    at = end + 1;
    if (component.empty() || component == ".") continue;
    tidied += '/';
    tidied += component;
  }
  if (!path.starts_with('/') && !tidied.empty()) tidied.erase(0, 1);
  return tidied.empty() && path.starts_with('/') ? Path("/") : tidied;
}

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
  auto target = resolve(path);
  if (!target) return std::nullopt;
  const Path entry = entry_path(path);
  const auto separator = entry.rfind('/');
  if (separator == Path::npos || separator + 1 == entry.size()) return PathPlace{*target, *target};
  auto parent = resolve(separator == 0 ? Path("/") : entry.substr(0, separator));
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
  return any_ancestor(
      tidy(path), [this](const Path& ancestor) { return removed_spellings_.contains(ancestor); });
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
      total.bytes += it->second.bytes;
      total.allocated += it->second.allocated;
    }
  }
  return total;
}

void PreviewLedger::record_removed(const Path& path, const PathPlace& place, PreviewCredit credit) {
  removed_.emplace(place.entry, credit);
  removed_spellings_.insert(tidy(path));
}

void PreviewLedger::record_emptied(const PathPlace& place, PreviewCredit credit) {
  auto [slot, added] = emptied_.emplace(place.target, credit);
  if (!added) {
    slot->second.bytes += credit.bytes;
    slot->second.allocated += credit.allocated;
  }
}

}  // namespace sorvik_lib::cleaner
