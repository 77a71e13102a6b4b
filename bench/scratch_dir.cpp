// Fresh folders and the one guarded way the harness deletes anything: through GNU rm, which copes
// with trees far deeper than PATH_MAX, after the path has been checked to lie inside the folder.
#include "scratch_dir.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>
#include <vector>

#include "child_run.hpp"

namespace sorvik_bench {
namespace {

// Every component of `relative` is a plain name: none empty, none "." or "..".
bool is_plain_relative(std::string_view relative) {
  if (relative.empty()) return false;
  for (;;) {
    const auto end = relative.find('/');
    const auto component = relative.substr(0, end);
    if (component.empty() || component == "." || component == "..") return false;
    if (end == std::string_view::npos) return true;
    relative.remove_prefix(end + 1);
  }
}

}  // namespace

std::expected<ScratchDir, sorvik_lib::sys::SystemError> ScratchDir::create(
    const std::string& parent) {
  char* resolved = ::realpath(parent.c_str(), nullptr);
  if (resolved == nullptr) return std::unexpected(sorvik_lib::sys::SystemError::from_errno());
  std::string pattern = std::string(resolved) + "/sorvik-bench-XXXXXX";
  std::free(resolved);
  if (::mkdtemp(pattern.data()) == nullptr) {
    return std::unexpected(sorvik_lib::sys::SystemError::from_errno());
  }
  return ScratchDir(std::move(pattern));
}

ScratchDir::ScratchDir(ScratchDir&& other) noexcept : path_(std::move(other.path_)) {
  other.path_.clear();
}

ScratchDir::~ScratchDir() {
  if (path_.empty()) return;
  // The folder itself is the one path remove_inside would refuse; it was made by mkdtemp above
  // and its name is checked once more before it goes.
  const auto slash = path_.rfind('/');
  if (slash == std::string::npos || path_.compare(slash + 1, 13, "sorvik-bench-") != 0) return;
  const auto rm = find_program("rm");
  if (!rm) return;
  ChildLaunch launch;
  launch.arguments = {*rm, "-rf", "--", path_};
  (void)run_child(launch);
}

std::expected<void, std::string> ScratchDir::remove_inside(const std::string& path) const {
  if (path_.empty() || path.size() <= path_.size() + 1 ||
      path.compare(0, path_.size(), path_) != 0 || path[path_.size()] != '/' ||
      !is_plain_relative(std::string_view(path).substr(path_.size() + 1))) {
    return std::unexpected("refusing to remove " + path + ": not inside " + path_);
  }
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0 && errno == ENOENT) return {};
  const auto rm = find_program("rm");
  if (!rm) return std::unexpected(std::string("rm not found on PATH"));
  ChildLaunch launch;
  launch.arguments = {*rm, "-rf", "--", path};
  const auto outcome = run_child(launch);
  if (!outcome) return std::unexpected("rm -rf " + path + ": " + outcome.error().message());
  if (!outcome->status.success()) {
    return std::unexpected("rm -rf " + path + ": " + outcome->status.to_string());
  }
  return {};
}

}  // namespace sorvik_bench
