// Formats operating-system errors as "Description (os error N)".
#include "sorvik_lib/sys/system_error.hpp"

#include <fmt/format.h>

#include <cstring>

namespace sorvik_lib::sys {
namespace {

// strerror_r comes in two flavours: the XSI one returns an int and fills the buffer, the GNU one
// returns a pointer that may or may not point into the buffer. Overloads pick whichever we got.
[[maybe_unused]] const char* pick_description(int result, const char* buffer) {
  return result == 0 ? buffer : nullptr;
}
[[maybe_unused]] const char* pick_description(const char* result, const char*) { return result; }

}  // namespace

std::string describe_error_number(int number) {
  char buffer[256] = {};
  const char* text = pick_description(::strerror_r(number, buffer, sizeof buffer), buffer);
  if (text == nullptr || *text == '\0') return fmt::format("Unknown error {}", number);
  return text;
}

std::string SystemError::message() const {
  return fmt::format("{} (os error {})", describe_error_number(number_), number_);
}

}  // namespace sorvik_lib::sys
