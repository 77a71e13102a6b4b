// A dry run's record of what it has taken, and the lookup that tells what is gone by its turn.
#include "preview_view.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <optional>

#include "sorvik_lib/sys/path_calls.hpp"

namespace sorvik_lib::cleaner {

using types::Path;

namespace {

// As many links as the system follows in one lookup before it gives up with ELOOP.
constexpr int kMaxLinks = 40;

void push_components(std::deque<std::string>& queue, std::string_view text) {
  std::deque<std::string> components;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find('/', start), text.size());
    if (end > start) components.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  queue.insert(queue.begin(), components.begin(), components.end());
}

[[nodiscard]] std::optional<std::string> read_link(const Path& path) {
  std::string target(4096, '\0');
  const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
  if (length < 0 || static_cast<std::size_t>(length) >= target.size()) return std::nullopt;
  target.resize(static_cast<std::size_t>(length));
  return target;
}

}  // namespace

bool PreviewView::entry_gone(const FileIdentity& directory, std::string_view name) const {
  if (!removed_entries_.empty() && removed_entries_.contains({directory, std::string(name)})) {
    return true;
  }
  if (emptied_.empty()) return false;
  const auto emptied = emptied_.find(directory);
  return emptied != emptied_.end() && !emptied->second.contains(name);
}

void PreviewView::record_emptied(const FileIdentity& directory, std::set<std::string> stays) {
  auto& kept = emptied_[directory];
  kept.insert(stays.begin(), stays.end());
}

// One lstat per component, a readlink per link: a dry run alone pays for it.
bool PreviewView::reaches_gone(const Path& path) const {
  if (sys::names_nothing(path)) return true;
  std::deque<std::string> queue;
  push_components(queue, path);
  if (!path.starts_with('/')) {
    const auto here = sys::resolve_path(".");
    if (!here) return true;
    push_components(queue, *here);
  }
  Path at = "/";
  const auto root = sys::stat_path(at, sys::FinalLink::Follow);
  if (!root) return true;
  const FileIdentity root_identity{root->st_dev, root->st_ino};
  FileIdentity in = root_identity;
  int links = 0;
  while (!queue.empty()) {
    const std::string name = std::move(queue.front());
    queue.pop_front();
    if (name == ".") continue;
    Path next = name != ".." ? (at == "/" ? at + name : at + '/' + name)
                             : at.substr(0, std::max<std::size_t>(at.rfind('/'), 1));
    const auto status = sys::stat_path(next, sys::FinalLink::NoFollow);
    if (!status) return true;
    const FileIdentity identity{status->st_dev, status->st_ino};
    if (name != ".." && (directory_removed(identity) || entry_gone(in, name))) return true;
    if (S_ISLNK(status->st_mode)) {
      const auto target = read_link(next);
      if (!target || ++links > kMaxLinks) return true;
      push_components(queue, *target);
      if (target->starts_with('/')) {
        at = "/";
        in = root_identity;
      }
      continue;
    }
    at = std::move(next);
    in = identity;
  }
  return false;
}

}  // namespace sorvik_lib::cleaner
