// Ownership of posix_spawn's file actions and attributes for one spawn; the benchmark harness
// starts its children with it too.
#pragma once

#include <spawn.h>

#include <expected>

#include "sorvik_lib/sys/system_error.hpp"

namespace sorvik_lib::sys {

class SpawnSetup {
 public:
  // posix_spawn* calls return the error number instead of setting errno.
  SpawnSetup()
      : actions_error_(::posix_spawn_file_actions_init(&actions_)),
        attributes_error_(::posix_spawnattr_init(&attributes_)) {}
  ~SpawnSetup() {
    if (actions_error_ == 0) ::posix_spawn_file_actions_destroy(&actions_);
    if (attributes_error_ == 0) ::posix_spawnattr_destroy(&attributes_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  // Both were initialized, or the error of the one that was not; nothing may use them then.
  [[nodiscard]] std::expected<void, SystemError> ready() const {
    if (actions_error_ != 0) return std::unexpected(SystemError(actions_error_));
    if (attributes_error_ != 0) return std::unexpected(SystemError(attributes_error_));
    return {};
  }

  [[nodiscard]] posix_spawn_file_actions_t* actions() { return &actions_; }
  [[nodiscard]] posix_spawnattr_t* attributes() { return &attributes_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
  int actions_error_;
  int attributes_error_;
};

}  // namespace sorvik_lib::sys
