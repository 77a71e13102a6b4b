// The library's logging facade: one process-wide maximum level (off until someone raises it) and
// at most one sink. Library code asks `enabled` before it builds a message, so a process that
// never raises the level pays for no formatting at all.
#pragma once

#include <cstdint>
#include <string_view>

namespace sorvik_lib::log {

// Ordered by verbosity: a record is admitted when its level is at most the maximum level.
enum class Level : std::uint8_t { Off = 0, Error = 1, Warn = 2, Info = 3, Debug = 4, Trace = 5 };

// One log record; the views live only for the duration of `Sink::write`.
struct Record {
  Level level;
  std::string_view target;  // the emitting module's path, e.g. "sorvik_lib::strategies::docker"
  std::string_view file;    // the emitting source location, e.g. "src/strategies/docker"
  std::string_view message;
};

// Receives the admitted records. Installed by the application (or a test), never by the library.
class Sink {
 public:
  virtual ~Sink() = default;
  virtual void write(const Record& record) = 0;
};

void set_max_level(Level level);
[[nodiscard]] Level max_level();

// Whether a record of `level` would be admitted; ask this before building the message.
[[nodiscard]] bool enabled(Level level);

// Installs `sink`, replacing any earlier one; nullptr removes it. The caller keeps the sink alive
// while it is installed.
void set_sink(Sink* sink);

// Hands `record` to the sink when its level is admitted and a sink is installed.
void emit(const Record& record);

}  // namespace sorvik_lib::log
