// Whole-file writes.
#include "file_io.hpp"

#include <fcntl.h>

#include "sorvik_lib/sys/io.hpp"
#include "sorvik_lib/sys/unique_fd.hpp"

namespace sorvik_bench {

std::expected<void, sorvik_lib::sys::SystemError> write_file(const std::string& path,
                                                             std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return std::unexpected(sorvik_lib::sys::SystemError::from_errno());
  const sorvik_lib::sys::UniqueFd owner(fd);
  return sorvik_lib::sys::write_all(fd, bytes);
}

}  // namespace sorvik_bench
