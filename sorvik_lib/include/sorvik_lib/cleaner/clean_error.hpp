// Why the cleaning of a path stopped: the one error of the cleaner, from a walk deep in a tree up
// to the entry of the result, a small closed set of kinds built by named constructors. Each kind
// says one thing about what was touched, wherever it comes from.
#pragma once

#include <string>

#include "sorvik_lib/sys/system_error.hpp"
#include "sorvik_lib/types/records.hpp"

namespace sorvik_lib::cleaner {

class CleanError {
 public:
  enum class Kind {
    NotBegun,   // a system call failed before anything of the path went; number() says which
    PartWay,    // a system call failed once the removal had begun; what went before it is gone
    Changed,    // the path no longer names what was screened; nothing of it was touched
    Forbidden,  // a walk met a directory no walk may enter; nothing below that one was touched
    Cancelled,  // the cancel flag stopped a walk at an entry; the entries before it are done
  };

  [[nodiscard]] static CleanError not_begun(sys::SystemError error) {
    return {Kind::NotBegun, error.number()};
  }
  [[nodiscard]] static CleanError part_way(sys::SystemError error) {
    return {Kind::PartWay, error.number()};
  }
  [[nodiscard]] static CleanError changed() { return {Kind::Changed, 0}; }
  [[nodiscard]] static CleanError forbidden() { return {Kind::Forbidden, 0}; }
  [[nodiscard]] static CleanError cancelled() { return {Kind::Cancelled, 0}; }

  [[nodiscard]] Kind kind() const { return kind_; }
  // The system's error number for NotBegun and PartWay, 0 for the others.
  [[nodiscard]] int number() const { return number_; }
  // The text the failure of cleaning `path` is reported with: the system's ("Permission denied
  // (os error 13)"), "Path changed while it was being cleaned: {path}", "Path is forbidden:
  // {path}" or "Cancelled".
  [[nodiscard]] std::string message(const types::Path& path) const {
    if (kind_ == Kind::NotBegun || kind_ == Kind::PartWay) {
      return sys::SystemError(number_).message();
    }
    if (kind_ == Kind::Changed) return "Path changed while it was being cleaned: " + path;
    return kind_ == Kind::Forbidden ? "Path is forbidden: " + path : "Cancelled";
  }

 private:
  CleanError(Kind kind, int number) : kind_(kind), number_(number) {}

  Kind kind_;
  int number_;
};

}  // namespace sorvik_lib::cleaner
