// An operating-system error number, and the one text the system shows for it everywhere:
// the platform's description, then " (os error N)".
#pragma once

#include <cerrno>
#include <string>

namespace sorvik_lib::sys {

class SystemError {
 public:
  explicit SystemError(int number) : number_(number) {}

  // The error of the system call that just failed; read before anything else can change errno.
  [[nodiscard]] static SystemError from_errno() { return SystemError(errno); }

  [[nodiscard]] int number() const { return number_; }

  // For example "Permission denied (os error 13)".
  [[nodiscard]] std::string message() const;

  friend bool operator==(const SystemError&, const SystemError&) = default;

 private:
  int number_;
};

// The platform's description of an error number alone, e.g. "No such file or directory".
[[nodiscard]] std::string describe_error_number(int number);

}  // namespace sorvik_lib::sys
