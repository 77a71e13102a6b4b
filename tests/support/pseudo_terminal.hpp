// Runs an executable with its standard output on a pseudo-terminal of a chosen width, the way a
// person's terminal would hold it, and collects exactly the bytes it wrote there.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "sorvik_lib/sys/process.hpp"

namespace sorvik_test {

struct TerminalRun {
  sorvik_lib::sys::ExitStatus status;
  std::string output;  // what reached the terminal, byte for byte (no "\n" to "\r\n" mapping)
  std::string error;   // standard error, which goes to a pipe
};

struct TerminalOptions {
  unsigned short columns = 80;
  // Standard input on the terminal too, as a person at the keyboard has it, rather than on the
  // null device.
  bool input_from_terminal = false;
  // Typed on the terminal as soon as the child runs.
  std::string typed;
  // Called with the child's id and all it wrote to the terminal so far, each time more arrives and
  // every few milliseconds besides, until the child has closed the terminal: a test can watch the
  // work and signal the child at the moment it wants.
  std::function<void(pid_t child, const std::string& output)> watch;
};

// `program` with `arguments`, standard output on a fresh pseudo-terminal, standard input on the
// null device unless `options` puts it on the terminal, and standard error on a pipe. Throws when
// the terminal or the child cannot be set up.
[[nodiscard]] TerminalRun run_on_terminal(const std::string& program,
                                          const std::vector<std::string>& arguments,
                                          const TerminalOptions& options);

// The same with `columns` and nothing else.
[[nodiscard]] TerminalRun run_on_terminal(const std::string& program,
                                          const std::vector<std::string>& arguments,
                                          unsigned short columns);

// What a tool that redraws one line in place left on the terminal: output of the form
// ("\r" LINE "\x1b[K")* then the rest.
struct Screen {
  std::vector<std::string> drawn;  // each line as drawn, without its control bytes
  std::string report;              // what follows the last drawn line
};
[[nodiscard]] Screen split_screen(const std::string& output);

}  // namespace sorvik_test
