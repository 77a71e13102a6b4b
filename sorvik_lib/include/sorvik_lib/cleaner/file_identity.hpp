// Which file or directory something is, whatever name reached it: its device and inode.
#pragma once

#include <sys/types.h>

#include <compare>
#include <set>

namespace sorvik_lib::cleaner {

struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  friend auto operator<=>(const FileIdentity&, const FileIdentity&) = default;
};

using IdentitySet = std::set<FileIdentity>;

}  // namespace sorvik_lib::cleaner
