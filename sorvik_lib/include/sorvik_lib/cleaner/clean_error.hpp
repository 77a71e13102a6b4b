// Why the cleaning of a path stopped: the one error of the cleaner, from a walk deep in a tree up
// to the entry of the result, a small closed set of kinds built by named constructors.
#pragma once

#include <string>

#include "sorvik_lib/sys/system_error.hpp"
#include "sorvik_lib/types/records.hpp"

namespace sorvik_lib::cleaner {

class CleanError {
 public:
  enum class Kind {
    System,     // a system call failed; number() says which error
    Refused,    // the caller's check refused what the path names now; nothing of it was touched
    Forbidden,  // a walk met a directory no walk may enter; nothing below that one was touched
    Cancelled,  // the cancel flag stopped a walk at an entry; the entries before it are done
  };

  [[nodiscard]] static CleanError system(sys::SystemError error) {
    return {Kind::System, error.number(), {}};
  }
  [[nodiscard]] static CleanError from_errno() { return system(sys::SystemError::from_errno()); }
  [[nodiscard]] static CleanError refused(std::string message) {
    return {Kind::Refused, 0, std::move(message)};
  }
  [[nodiscard]] static CleanError forbidden() { return {Kind::Forbidden, 0, {}}; }
  [[nodiscard]] static CleanError cancelled() { return {Kind::Cancelled, 0, {}}; }

  [[nodiscard]] Kind kind() const { return kind_; }
  // The system's error number for Kind::System, 0 for the others.
  [[nodiscard]] int number() const { return number_; }
  // The text the failure of cleaning `path` is reported with: the system's ("Permission denied
  // (os error 13)"), the check's refusal, "Path is forbidden: {path}" or "Cancelled".
  [[nodiscard]] std::string message(const types::Path& path) const {
    if (kind_ == Kind::System) return sys::SystemError(number_).message();
    if (kind_ == Kind::Refused) return refusal_;
    return kind_ == Kind::Forbidden ? "Path is forbidden: " + path : "Cancelled";
  }

 private:
  CleanError(Kind kind, int number, std::string refusal)
      : kind_(kind), number_(number), refusal_(std::move(refusal)) {}

  Kind kind_;
  int number_;
  std::string refusal_;
};

}  // namespace sorvik_lib::cleaner
