// Path screening for elevated requests. The text rules come first and stay exactly as the
// application knows them; the identity test after them closes what spelling alone lets through:
// "//", "/usr/", "/./usr", a link to "/", a second name of a root on a case-insensitive volume, or
// a directory above a root ("/private" holding "/private/var" behind the "/var" link).
#include "sorvik_screening/path_screening.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "sorvik_lib/cleaner/tree_operations.hpp"
#include "sorvik_lib/platform.hpp"
#include "sorvik_lib/sys/file_status.hpp"
#include "sorvik_lib/sys/path_calls.hpp"

namespace sorvik_helper {

using sorvik_lib::types::Path;

namespace {

using Identity = sorvik_lib::cleaner::FileIdentity;

constexpr int kMaxClimb = 4096;

// What `path` leads to, links followed.
[[nodiscard]] std::optional<Identity> identity_of(const std::string& path) {
  const auto status = sorvik_lib::sys::stat_path(path, sorvik_lib::sys::FinalLink::Follow);
  if (!status) return std::nullopt;
  return Identity{status->st_dev, status->st_ino};
}

// Every directory no path may be, collected once per request. A directory is added with all
// that is above it both by name (the prefixes of a root's resolved location) and through "..",
// as the kernel links the directories: where a volume is reached by more than one name (macOS
// firmlinks, bind mounts) ".." finds holders of a root that the spelled-out location does not
// show. Shared ancestors are looked at once.
class ForbiddenCollector {
 public:
  void add_root(std::string_view root) {
    auto location = sorvik_lib::sys::resolve_path(std::string(root));
    if (!location) return;
    const auto identity = identity_of(*location);
    if (!identity) return;
    identities_.insert(*identity);
    add_prefixes(*location);
    climb(*location, *identity);
  }

  std::set<Identity> take() { return std::move(identities_); }

 private:
  void add_prefixes(std::string location) {
    for (;;) {
      const auto last_separator = location.find_last_of('/');
      if (last_separator == std::string::npos || location == "/") return;
      location.resize(std::max<std::size_t>(last_separator, 1));
      // A prefix seen before had its own prefixes seen with it.
      if (!prefixes_seen_.insert(location).second) return;
      if (auto identity = identity_of(location)) identities_.insert(*identity);
    }
  }

  // One stat per level: "location/..", "location/../..", ... until ".." stays where it is or
  // reaches a directory already climbed from. Bounded in case ".." never settles.
  void climb(std::string location, Identity identity) {
    for (int level = 0; level < kMaxClimb && climbed_.insert(identity).second; ++level) {
      location += "/..";
      const auto parent = identity_of(location);
      if (!parent || *parent == identity) return;
      identities_.insert(*parent);
      identity = *parent;
    }
  }

  std::set<Identity> identities_;
  std::set<Identity> climbed_;
  std::set<std::string> prefixes_seen_;
};

// The directories no path may be: each existing root, and every directory above its resolved
// location up to "/", by name and by "..".
std::set<Identity> forbidden_identities(std::span<const std::string_view> forbidden_roots) {
  ForbiddenCollector collector;
  for (const std::string_view root : forbidden_roots) collector.add_root(root);
  return collector.take();
}

// The rules that read the text alone, which the application knows exactly.
[[nodiscard]] std::optional<std::string> text_refusal(
    const Path& path, std::span<const std::string_view> forbidden_roots) {
  if (!path.starts_with('/')) return "Path is not absolute: " + path;
  if (path.find("..") != Path::npos) return "Path contains traversal: " + path;
  const bool named =
      std::ranges::find(forbidden_roots, std::string_view(path)) != forbidden_roots.end();
  if (named) return "Path is forbidden: " + path;
  return std::nullopt;
}

// The root of a mounted filesystem: "/", a directory the system marks as one (a bind mount of a
// directory of the same filesystem, whose device is its parent's), or where the system does not
// mark them, a directory on another device than its parent.
bool is_mount_root(const Path& entry, const sorvik_lib::sys::FileStatus& status) {
  if (entry == "/") return true;
  if (status.mount_root_known) return status.marked_mount_root;
  const auto separator = entry.rfind('/');
  if (separator == Path::npos) return false;
  const auto parent = sorvik_lib::sys::stat_path(
      separator == 0 ? Path("/") : entry.substr(0, separator), sorvik_lib::sys::FinalLink::Follow);
  return parent && parent->st_dev != status.device;
}

}  // namespace

std::span<const std::string_view> platform_forbidden_paths() {
  static const std::vector<std::string_view> kRoots = [] {
    std::vector<std::string_view> roots(kForbiddenPaths.begin(), kForbiddenPaths.end());
    if constexpr (SORVIK_FORBIDS_LINUX_ROOTS)
      std::ranges::copy(kLinuxSystemRoots, std::back_inserter(roots));
    if constexpr (SORVIK_FORBIDS_MACOS_ROOTS)
      std::ranges::copy(kMacosSystemRoots, std::back_inserter(roots));
    return roots;
  }();
  return kRoots;
}

ScreenedPaths screen_paths(std::vector<Path> paths,
                           std::span<const std::string_view> forbidden_roots,
                           const sorvik_lib::cleaner::PathSet& kept_roots) {
  ScreenedPaths screened;
  screened.forbidden = forbidden_identities(forbidden_roots);
  const sorvik_lib::cleaner::PathRecorder recorder(kept_roots);
  // The accepted paths stay where they are, moved up over the refused ones: a request of a
  // million paths is not held in a second list.
  std::size_t accepted = 0;
  for (Path& path : paths) {
    auto refusal = text_refusal(path, forbidden_roots);
    auto record = refusal ? std::nullopt : recorder.record(path, accepted);
    if (record) {
      const auto& entry = record->entry;
      // A path too long for the system's path calls cannot be looked at, so it cannot be
      // screened: it is refused with the system's reason, whether or not something lies there.
      if (!entry) {
        refusal = entry.error().message();
      } else if (screened.forbidden.contains(record->led_to) ||
                 (S_ISDIR(entry->mode) && !record->kept &&
                  is_mount_root(sorvik_lib::cleaner::entry_path(path), *entry))) {
        // Removing a mounted volume whole would empty it and then fail on the mount point; only
        // a kept root may be emptied, and is.
        refusal = "Path is forbidden: " + path;
      }
    }
    if (refusal) {
      screened.rejected.push_back({std::move(path), std::move(*refusal)});
      continue;
    }
    if (record) screened.records.push_back(std::move(*record));
    if (&paths[accepted] != &path) paths[accepted] = std::move(path);
    ++accepted;
  }
  paths.resize(accepted);
  screened.accepted = std::move(paths);
  return screened;
}

}  // namespace sorvik_helper
