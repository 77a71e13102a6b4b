// The process-wide state of the logging facade. Relaxed atomics: the level and the sink are set
// once by the application, and a record racing with a change of sink may go either way.
#include "sorvik_lib/log/log.hpp"

#include <atomic>

namespace sorvik_lib::log {
namespace {

std::atomic<Level> g_max_level{Level::Off};
std::atomic<Sink*> g_sink{nullptr};

}  // namespace

void set_max_level(Level level) { g_max_level.store(level, std::memory_order_relaxed); }

Level max_level() { return g_max_level.load(std::memory_order_relaxed); }

bool enabled(Level level) { return level != Level::Off && level <= max_level(); }

void set_sink(Sink* sink) { g_sink.store(sink, std::memory_order_relaxed); }

void emit(const Record& record) {
  if (!enabled(record.level)) return;
  if (Sink* sink = g_sink.load(std::memory_order_relaxed)) sink->write(record);
}

}  // namespace sorvik_lib::log
