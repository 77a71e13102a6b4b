// Path screening for elevated requests. The text rules come first and stay exactly as the
// application knows them; the identity test after them closes what spelling alone lets through:
// "//", "/usr/", "/./usr", a link to "/", a second name of a root on a case-insensitive volume, or
// a directory above a root ("/private" holding "/private/var" behind the "/var" link).
#include "path_screening.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "sorvik_lib/cleaner/tree.hpp"
#include "sorvik_lib/platform.hpp"

namespace sorvik_helper {

using sorvik_lib::types::Path;

namespace {

using Identity = FileIdentity;

constexpr int kMaxClimb = 4096;

std::optional<Identity> identity_of(const std::string& path, int flags = 0) {
  // A path holding a NUL byte names nothing; cutting it at the NUL would name something else.
  if (path.find('\0') != std::string::npos) return std::nullopt;
  struct stat status {};
  if (::fstatat(AT_FDCWD, path.c_str(), &status, flags) != 0) return std::nullopt;
  return Identity{status.st_dev, status.st_ino};
}

std::optional<std::string> resolve(std::string_view path) {
  const std::string text(path);
  if (text.find('\0') != std::string::npos) return std::nullopt;
  const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(text.c_str(), nullptr),
                                                             &std::free);
  if (!resolved) return std::nullopt;
  return std::string(resolved.get());
}

// Every directory no path may be, collected once per request. A directory is added with all
// that is above it both by name (the prefixes of a root's resolved location) and through "..",
// as the kernel links the directories: where a volume is reached by more than one name (macOS
// firmlinks, bind mounts) ".." finds holders of a root that the spelled-out location does not
// show. Shared ancestors are looked at once.
class ForbiddenCollector {
 public:
  void add_root(std::string_view root) {
    auto location = resolve(root);
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
std::optional<std::string> text_refusal(const Path& path,
                                        std::span<const std::string_view> forbidden_roots) {
  if (!path.starts_with('/')) return "Path is not absolute: " + path;
  if (path.find("..") != Path::npos) return "Path contains traversal: " + path;
  const bool named =
      std::ranges::find(forbidden_roots, std::string_view(path)) != forbidden_roots.end();
  if (named) return "Path is forbidden: " + path;
  return std::nullopt;
}

}  // namespace

std::span<const std::string_view> platform_forbidden_paths() {
#if SORVIK_FORBIDS_LINUX_ROOTS
  static constexpr auto kRoots = [] {
    std::array<std::string_view, FORBIDDEN_PATHS.size() + LINUX_SYSTEM_ROOTS.size()> roots{};
    std::ranges::copy(LINUX_SYSTEM_ROOTS, std::ranges::copy(FORBIDDEN_PATHS, roots.begin()).out);
    return roots;
  }();
  return kRoots;
#else
  return FORBIDDEN_PATHS;
#endif
}

ScreenedPaths screen_paths(std::vector<Path> paths,
                           std::span<const std::string_view> forbidden_roots) {
  ScreenedPaths screened;
  screened.forbidden = forbidden_identities(forbidden_roots);
  // The accepted paths stay where they are, moved up over the refused ones: a request of a
  // million paths is not held in a second list.
  std::size_t accepted = 0;
  for (Path& path : paths) {
    if (auto message = text_refusal(path, forbidden_roots)) {
      screened.rejected.push_back({std::move(path), std::move(*message)});
      continue;
    }
    const auto identity = identity_of(path);
    if (identity && screened.forbidden.contains(*identity)) {
      std::string message = "Path is forbidden: " + path;
      screened.rejected.push_back({std::move(path), std::move(message)});
      continue;
    }
    // The cleaner comes back to this when it opens the path's directory, to make sure that it is
    // still the one screened here.
    if (identity) {
      screened.identities.emplace(path, *identity);
      const auto entry = identity_of(sorvik_lib::cleaner::entry_path(path), AT_SYMLINK_NOFOLLOW);
      if (entry) screened.entry_identities.emplace(path, *entry);
    }
    if (&paths[accepted] != &path) paths[accepted] = std::move(path);
    ++accepted;
  }
  paths.resize(accepted);
  screened.accepted = std::move(paths);
  return screened;
}

}  // namespace sorvik_helper
