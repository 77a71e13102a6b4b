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
#include "sorvik_lib/sys/unique_fd.hpp"

namespace sorvik_helper {

using sorvik_lib::types::Path;

namespace {

using Identity = FileIdentity;
using sorvik_lib::sys::UniqueFd;

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

// Climbs from `location` through ".." to the top, as the kernel links the directories, adding each
// one. Where a volume is reached by more than one name (macOS firmlinks, bind mounts) this finds
// holders of a root that its spelled-out location does not show.
void add_directories_above(const std::string& location, std::set<Identity>& identities) {
  int fd;
  do {
    fd = ::open(location.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return;
  UniqueFd current(fd);
  struct stat status {};
  if (::fstat(current.get(), &status) != 0) return;
  Identity identity{status.st_dev, status.st_ino};
  // Bounded in case ".." never settles on a directory that is its own parent.
  for (int level = 0; level < kMaxClimb; ++level) {
    do {
      fd = ::openat(current.get(), "..", O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return;
    current = UniqueFd(fd);
    if (::fstat(current.get(), &status) != 0) return;
    const Identity parent{status.st_dev, status.st_ino};
    if (parent == identity) return;
    identities.insert(parent);
    identity = parent;
  }
}

// The directories no path may be: each existing root, and every directory above its resolved
// location up to "/", by name and by "..".
std::set<Identity> forbidden_identities(std::span<const std::string_view> forbidden_roots) {
  std::set<Identity> identities;
  for (const std::string_view root : forbidden_roots) {
    auto location = resolve(root);
    if (!location) continue;
    add_directories_above(*location, identities);
    for (;;) {
      if (auto identity = identity_of(*location)) identities.insert(*identity);
      const auto last_separator = location->find_last_of('/');
      if (last_separator == std::string::npos || *location == "/") break;
      location->resize(std::max<std::size_t>(last_separator, 1));
    }
  }
  return identities;
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
#if defined(__linux__)
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
