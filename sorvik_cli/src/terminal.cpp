// Terminal queries.
#include "terminal.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

namespace sorvik_cli {

bool is_terminal(int fd) { return ::isatty(fd) == 1; }

std::size_t terminal_columns(int fd) {
  constexpr std::size_t kFallback = 80;
  struct winsize size {};
  if (::ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return kFallback;
  return size.ws_col;
}

}  // namespace sorvik_cli
