// A dry run's record of what it has taken, and the lookup that tells what is gone by its turn.
#include "preview_view.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <deque>
#include <ranges>

#include "sorvik_lib/sys/path_calls.hpp"

namespace sorvik_lib::cleaner {

using types::Path;

namespace {

// As many links as the system follows in one lookup before it gives up with ELOOP.
constexpr int kMaxLinks = 40;

// Puts the components of `text` before those still to be looked up.
void push_components(std::deque<std::string>& queue, std::string_view text) {
  auto at = queue.begin();
  for (const auto component : std::views::split(text, '/')) {
    if (!component.empty()) at = std::next(queue.emplace(at, component.begin(), component.end()));
  }
}

}  // namespace

bool PreviewView::entry_gone(const FileIdentity& directory, std::string_view name) const {
  if (removed_entries_.contains({directory, std::string(name)})) return true;
  const auto emptied = emptied_.find(directory);
  return emptied != emptied_.end() && !emptied->second.contains(name);
}

// An entry stays only while every emptying of the directory left it.
void PreviewView::record_emptied(const FileIdentity& directory, std::set<std::string> stays) {
  auto [emptied, first] = emptied_.try_emplace(directory, stays.begin(), stays.end());
  if (!first)
    std::erase_if(emptied->second, [&](const auto& name) { return !stays.contains(name); });
}

// One lstat per component, a readlink per link: a dry run alone pays for it.
bool PreviewView::reaches_gone(const Path& path) const {
  std::deque<std::string> queue;
  push_components(queue, path);
  const auto here =
      path.starts_with('/') ? std::expected<Path, sys::SystemError>("/") : sys::resolve_path(".");
  if (!here || sys::names_nothing(path)) return true;
  push_components(queue, *here);
  const auto root = sys::stat_path("/", sys::FinalLink::Follow);
  if (!root) return true;
  const FileIdentity root_identity{root->st_dev, root->st_ino};
  Path at = "/";
  FileIdentity in = root_identity;
  for (int links = 0; !queue.empty(); queue.pop_front()) {
    const std::string& name = queue.front();
    if (name == ".") continue;
    Path next = at;
    if (name == "..") {
      next.resize(std::max<std::size_t>(at.rfind('/'), 1));
    } else {
      if (next != "/") next += '/';
      next += name;
    }
    const auto status = sys::stat_path(next, sys::FinalLink::NoFollow);
    if (!status) return true;
    const FileIdentity identity{status->st_dev, status->st_ino};
    if (name != ".." && (directory_removed(identity) || entry_gone(in, name))) return true;
    if (!S_ISLNK(status->st_mode)) {
      at = std::move(next);
      in = identity;
      continue;
    }
    std::string target(PATH_MAX, '\0');
    const ssize_t length = ::readlink(next.c_str(), target.data(), target.size());
    if (length < 0 || ++links > kMaxLinks) return true;
    target.resize(static_cast<std::size_t>(length));
    queue.pop_front();
    push_components(queue, target);
    queue.emplace_front(".");  // popped by the loop in place of the link
    if (target.starts_with('/')) {
      at.resize(1);  // "/"
      in = root_identity;
    }
  }
  return false;
}

}  // namespace sorvik_lib::cleaner
