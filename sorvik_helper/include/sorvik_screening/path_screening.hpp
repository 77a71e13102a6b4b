// The safety rules an elevated request's paths must pass before anything is deleted: absolute, no
// "..", and not one of the system roots, by spelling or by identity.
#pragma once

#include <array>
#include <span>
#include <string_view>
#include <vector>

#include "sorvik_lib/cleaner/file_identity.hpp"
#include "sorvik_lib/cleaner/path_record.hpp"
#include "sorvik_lib/cleaner/path_set.hpp"
#include "sorvik_lib/types/records.hpp"

namespace sorvik_helper {

// The system roots that may never be cleaned as a whole.
inline constexpr std::array<std::string_view, 13> kForbiddenPaths = {
    "/",     "/usr",  "/bin",   "/sbin",   "/etc",     "/var",          "/tmp",
    "/home", "/root", "/Users", "/System", "/Library", "/Applications",
};

// Linux keeps the system in more places than the roots above name.
inline constexpr std::array<std::string_view, 13> kLinuxSystemRoots = {
    "/boot", "/dev", "/lib",  "/lib32", "/lib64", "/libx32", "/media",
    "/mnt",  "/opt", "/proc", "/run",   "/srv",   "/sys",
};

// So does macOS: every mounted volume, the devices, the real /etc, /tmp and /var, core dumps,
// network shares, Homebrew and the system's own volumes.
inline constexpr std::array<std::string_view, 7> kMacosSystemRoots = {
    "/Volumes", "/dev", "/private", "/cores", "/Network", "/opt", "/System/Volumes",
};

// The roots screening refuses on this platform: kForbiddenPaths, with kLinuxSystemRoots on Linux
// and kMacosSystemRoots on macOS and in a portable build.
[[nodiscard]] std::span<const std::string_view> platform_forbidden_paths();

struct ScreenedPaths {
  std::vector<sorvik_lib::types::Path> accepted;  // in request order, duplicates kept
  // The record of each accepted path where something was found: what it was, and whether it is a
  // kept root, for the cleaner to act on.
  std::vector<sorvik_lib::cleaner::PathRecord> records;
  std::vector<sorvik_lib::types::ErrorEntry>
      rejected;  // in request order, the first rule's message
  // The directories no path may be: each forbidden root and every directory above one.
  sorvik_lib::cleaner::IdentitySet forbidden;
};

// Applies the rules in order, the first that refuses deciding the message:
//   "Path is not absolute: {}"   the text does not begin with "/";
//   "Path contains traversal: {}" the text holds ".." anywhere;
//   "Path is forbidden: {}"      the text is one of `forbidden_roots`, or the path exists and is
//                                the very directory (device and inode, links followed) of a
//                                forbidden root or of any directory above one's resolved location,
//                                or it names (its final component not followed) the root of a
//                                mounted filesystem, "/" or a directory the system marks as one or
//                                on another device than its parent, and is not one of
//                                `kept_roots`, which are only emptied.
// Roots that do not exist play no part in the second test. A path whose lookup fails with
// ENAMETOOLONG is refused with the system's reason. Each path is looked up once, into its record.
[[nodiscard]] ScreenedPaths screen_paths(std::vector<sorvik_lib::types::Path> paths,
                                         std::span<const std::string_view> forbidden_roots,
                                         const sorvik_lib::cleaner::PathSet& kept_roots = {});

}  // namespace sorvik_helper
