// The docker strategy's diagnostic records: level Info, its own target and source file, and a
// message that is built only once the facade admits Info.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "sorvik_lib/log/log.hpp"

namespace sorvik_lib::strategies::docker {

inline constexpr std::string_view kLogTarget = "sorvik_lib::strategies::docker";
inline constexpr std::string_view kLogFile = "src/strategies/docker";

// Emits the message that `build_message` returns; it is called only when Info is admitted.
template <typename BuildMessage>
void log_info(BuildMessage&& build_message) {
  if (!log::enabled(log::Level::Info)) return;
  const std::string message = std::forward<BuildMessage>(build_message)();
  log::emit({log::Level::Info, kLogTarget, kLogFile, message});
}

}  // namespace sorvik_lib::strategies::docker
