// The framework's one entry: it starts a child through the library, whose environment it must
// reach without the `environ` that only an executable may link against on macOS.
#include <sorvik_lib/sys/process.hpp>
#include <string>
#include <vector>

extern "C" __attribute__((visibility("default"))) bool consumer_framework_runs_a_child() {
  const auto ran = sorvik_lib::sys::run_process(std::vector<std::string>{"true"});
  return ran && ran->status.success();
}
