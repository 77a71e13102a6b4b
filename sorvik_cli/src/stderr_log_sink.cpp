// A log sink that writes to standard error.
#include "stderr_log_sink.hpp"

#include <fmt/format.h>

#include <cstdio>

#include "sorvik_lib/log/log.hpp"

namespace sorvik_cli {
namespace {

class StandardErrorSink final : public sorvik_lib::log::Sink {
 public:
  void write(const sorvik_lib::log::Record& record) override {
    // The strategy quotes and escapes every text it took from docker, so a record is one line.
    fmt::print(stderr, "sorvik: [{}] {}\n", record.target, record.message);
  }
};

}  // namespace

void log_to_standard_error() {
  static StandardErrorSink sink;
  sorvik_lib::log::set_sink(&sink);
  sorvik_lib::log::set_max_level(sorvik_lib::log::Level::Info);
}

}  // namespace sorvik_cli
