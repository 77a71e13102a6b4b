// The helper's entry: one request in (standard input or a request file), one encoded result out
// on standard output, nothing on standard error. Exit status 1 only when the request could not
// be read, or a stop came before it was all in. SIGINT and SIGTERM end every stage early but
// still with the one result; out of memory ends the run silently (silent_end.hpp).
#include <csignal>
#include <span>

#include "dispatch.hpp"
#include "request_source.hpp"
#include "result_output.hpp"
#include "silent_end.hpp"
#include "sorvik_lib/sys/io_policy.hpp"
#include "sorvik_lib/types/records.hpp"
#include "stop_signals.hpp"

int main(int argc, char** argv) {
  sorvik_helper::end_silently_when_out_of_memory();
  sorvik_helper::reserve_standard_descriptors();
  // A closed reader of standard output makes the write fail instead of ending the process.
  std::signal(SIGPIPE, SIG_IGN);
  // A stop asked for at any time still gets the one result, with what was done by then. Where
  // the signals cannot be caught, they end the helper as they would any process.
  const auto caught = sorvik_helper::catch_stop_signals();
  const std::atomic<bool>* stop = caught.value_or(nullptr);
  // Measuring or walking a tree must not download what only sits in the cloud. A system that
  // cannot be told so still gets its clean; there is no one to tell before the result.
  (void)sorvik_lib::sys::keep_dataless_files_remote();

  auto request_bytes = sorvik_helper::obtain_request_bytes(
      std::span<const char* const>(argv, static_cast<std::size_t>(std::max(argc, 0))), stop);
  if (!request_bytes) {
    sorvik_helper::write_result(
        sorvik_lib::types::single_error_result("input", std::move(request_bytes.error())), stop);
    return 1;
  }
  sorvik_helper::write_result(sorvik_helper::carry_out_request(std::move(*request_bytes), stop),
                              stop);
  return 0;
}
