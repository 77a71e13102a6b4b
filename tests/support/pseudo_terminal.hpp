// Runs an executable with its standard output on a pseudo-terminal of a chosen width, the way a
// person's terminal would hold it, and collects exactly the bytes it wrote there.
#pragma once

#include <string>
#include <vector>

#include "sorvik_lib/sys/process.hpp"

namespace sorvik_test {

struct TerminalRun {
  sorvik_lib::sys::ExitStatus status;
  std::string output;  // what reached the terminal, byte for byte (no "\n" to "\r\n" mapping)
  std::string error;   // standard error, which goes to a pipe
};

// `program` with `arguments`, standard output on a fresh pseudo-terminal `columns` wide, standard
// input on the null device and standard error on a pipe. Throws when the terminal or the child
// cannot be set up.
[[nodiscard]] TerminalRun run_on_terminal(const std::string& program,
                                          const std::vector<std::string>& arguments,
                                          unsigned short columns);

}  // namespace sorvik_test
