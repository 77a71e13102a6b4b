// What a dry run has taken so far, by device and inode, so that it previews the real run: by its
// turn, a path that leads through something an earlier path removed, or through an entry of a
// directory an earlier path emptied, leads nowhere, and a measure counts only what is left.
#pragma once

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "sorvik_lib/cleaner/file_identity.hpp"
#include "sorvik_lib/types/records.hpp"

namespace sorvik_lib::cleaner {

class PreviewView {
 public:
  // Following `path` as the system would, each link included, meets an entry that is gone, or a
  // lookup that fails now: the real run would find nothing there.
  [[nodiscard]] bool reaches_gone(const types::Path& path) const;

  [[nodiscard]] bool directory_removed(const FileIdentity& identity) const {
    return removed_directories_.contains(identity);
  }
  // The entry `name` of `directory` was removed by that name (a file of several links keeps its
  // other names), or the directory was emptied and it did not stay.
  [[nodiscard]] bool entry_gone(const FileIdentity& directory, std::string_view name) const;

  void record_removed_directory(const FileIdentity& identity) {
    removed_directories_.insert(identity);
  }
  void record_removed_entry(const FileIdentity& directory, std::string name) {
    removed_entries_.emplace(directory, std::move(name));
  }
  void record_emptied(const FileIdentity& directory, std::set<std::string> stays);

 private:
  IdentitySet removed_directories_;
  std::set<std::pair<FileIdentity, std::string>> removed_entries_;
  std::map<FileIdentity, std::set<std::string, std::less<>>> emptied_;
};

}  // namespace sorvik_lib::cleaner
