// The counting walk: an explicit stack of listed directories and a single open descriptor.
#include "tree_count.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "sorvik_lib/sys/path_calls.hpp"
#include "sorvik_lib/sys/unique_fd.hpp"

namespace sorvik_bench {
namespace {

using sorvik_lib::sys::SystemError;
using sorvik_lib::sys::UniqueFd;

struct Frame {
  std::vector<std::string> names;
  std::size_t next = 0;
  dev_t device = 0;
  ino_t inode = 0;
};

[[nodiscard]] std::expected<Frame, SystemError> list_directory(int fd) {
  Frame frame;
  struct stat status {};
  if (::fstat(fd, &status) != 0) return std::unexpected(SystemError::from_errno());
  frame.device = status.st_dev;
  frame.inode = status.st_ino;
  const int listing_fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (listing_fd < 0) return std::unexpected(SystemError::from_errno());
  DIR* directory = ::fdopendir(listing_fd);
  if (directory == nullptr) {
    const auto error = SystemError::from_errno();
    ::close(listing_fd);
    return std::unexpected(error);
  }
  errno = 0;
  while (const dirent* entry = ::readdir(directory)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      frame.names.emplace_back(entry->d_name);
    }
    errno = 0;
  }
  const int read_error = errno;
  ::closedir(directory);
  if (read_error != 0) return std::unexpected(SystemError(read_error));
  return frame;
}

}  // namespace

std::expected<TreeCount, SystemError> count_tree(const std::string& path) {
  auto current = sorvik_lib::sys::open_directory_at(AT_FDCWD, path.c_str());
  if (!current) return std::unexpected(current.error());
  TreeCount count;
  count.directories = 1;
  std::vector<Frame> stack;
  auto top = list_directory(current->get());
  if (!top) return std::unexpected(top.error());
  stack.push_back(std::move(*top));
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.next == frame.names.size()) {
      stack.pop_back();
      if (stack.empty()) break;
      // Back up one level; the tree is ours and still, but a parent that is not the one we came
      // from would make every later figure wrong, so it is checked.
      auto parent = sorvik_lib::sys::open_directory_at(current->get(), "..");
      if (!parent) return std::unexpected(parent.error());
      struct stat status {};
      if (::fstat(parent->get(), &status) != 0) return std::unexpected(SystemError::from_errno());
      if (status.st_dev != stack.back().device || status.st_ino != stack.back().inode) {
        return std::unexpected(SystemError(ESTALE));
      }
      *current = std::move(*parent);
      continue;
    }
    const std::string& name = frame.names[frame.next++];
    struct stat status {};
    if (::fstatat(current->get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
      return std::unexpected(SystemError::from_errno());
    }
    if (S_ISREG(status.st_mode)) {
      ++count.files;
      count.bytes += static_cast<std::uint64_t>(status.st_size);
    } else if (S_ISLNK(status.st_mode)) {
      ++count.links;
    } else if (S_ISDIR(status.st_mode)) {
      ++count.directories;
      auto child = sorvik_lib::sys::open_directory_at(current->get(), name.c_str());
      if (!child) return std::unexpected(child.error());
      auto listed = list_directory(child->get());
      if (!listed) return std::unexpected(listed.error());
      *current = std::move(*child);
      stack.push_back(std::move(*listed));  // `frame` and `name` are not used past this point
    } else {
      ++count.others;
    }
  }
  return count;
}

}  // namespace sorvik_bench
