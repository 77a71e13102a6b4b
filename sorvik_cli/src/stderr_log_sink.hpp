// The library's log records on the tool's standard error, for people who need to see what the
// docker strategy ran and what docker answered.
#pragma once

namespace sorvik_cli {

// Raises the library's log level to Info and writes each record as one line on standard error,
// "sorvik: [target] message", for the rest of the process.
void log_to_standard_error();

}  // namespace sorvik_cli
