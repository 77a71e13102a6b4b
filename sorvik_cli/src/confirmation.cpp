// The "[y/N]" question.
#include "confirmation.hpp"

#include <unistd.h>

#include <cerrno>
#include <string>

#include "sorvik_lib/sys/io.hpp"

namespace sorvik_cli {

bool answered_yes(std::string_view answer) {
  constexpr std::string_view kBlanks = " \t\r\n";
  const auto first = answer.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return false;
  answer = answer.substr(first, answer.find_last_not_of(kBlanks) - first + 1);
  std::string lower(answer);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower == "y" || lower == "yes";
}

std::expected<bool, sorvik_lib::sys::SystemError> ask_yes_no(std::string_view question, int in,
                                                             int out) {
  std::string prompt(question);
  prompt += " [y/N] ";
  if (auto written = sorvik_lib::sys::write_all(out, prompt); !written) {
    return std::unexpected(written.error());
  }
  // One byte at a time: nothing typed after the line is taken from whoever reads next.
  std::string line;
  for (;;) {
    char c = 0;
    const ssize_t got = ::read(in, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::unexpected(sorvik_lib::sys::SystemError::from_errno());
    if (got == 0 || c == '\n' || c == '\r') break;
    line += c;
  }
  return answered_yes(line);
}

}  // namespace sorvik_cli
