// Making the arguments of `sorvik clean` absolute and checking the kept roots.
#include "clean_arguments.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "sorvik_lib/cleaner/path_set.hpp"

namespace sorvik_cli {

std::string make_absolute(std::string_view path, std::string_view working_directory) {
  if (path.empty() || path.front() == '/') return std::string(path);
  std::string joined(working_directory);
  if (!joined.ends_with('/')) joined += '/';
  joined += path;
  return joined;
}

std::expected<std::string, sorvik_lib::sys::SystemError> working_directory() {
  std::string buffer(256, '\0');
  for (;;) {
    if (::getcwd(buffer.data(), buffer.size()) != nullptr) {
      buffer.resize(buffer.find('\0'));
      return buffer;
    }
    if (errno != ERANGE) return std::unexpected(sorvik_lib::sys::SystemError::from_errno());
    buffer.resize(buffer.size() * 2);
  }
}

std::optional<std::size_t> keep_not_among_paths(const std::vector<std::string>& paths,
                                                const std::vector<std::string>& keep) {
  for (std::size_t i = 0; i < keep.size(); ++i) {
    const bool among = std::ranges::any_of(paths, [&](const std::string& path) {
      return sorvik_lib::cleaner::same_components(keep[i], path);
    });
    if (!among) return i;
  }
  return std::nullopt;
}

}  // namespace sorvik_cli
