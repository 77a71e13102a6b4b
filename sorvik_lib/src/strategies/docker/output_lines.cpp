// Line splitting and Unicode white-space trimming of docker's output.
#include "output_lines.hpp"

#include <algorithm>
#include <array>

namespace sorvik_lib::strategies::docker {
namespace {

// Every Unicode white-space character in UTF-8. In well-formed UTF-8 a lead byte never stands
// inside another character, so matching these byte strings at either end finds whole characters.
constexpr std::array<std::string_view, 25> kWhiteSpace = {
    "\t",           "\n",           "\v",           "\f",           "\r",           " ",
    "\xC2\x85",     "\xC2\xA0",     "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82",
    "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88",
    "\xE2\x80\x89", "\xE2\x80\x8A", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F",
    "\xE3\x80\x80",
};

std::size_t leading_white_space(std::string_view text) {
  for (const auto space : kWhiteSpace) {
    if (text.starts_with(space)) return space.size();
  }
  return 0;
}

std::size_t trailing_white_space(std::string_view text) {
  for (const auto space : kWhiteSpace) {
    if (text.ends_with(space)) return space.size();
  }
  return 0;
}

}  // namespace

std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) {
      lines.push_back(text);
      break;
    }
    std::string_view line = text.substr(0, end);
    if (line.ends_with('\r')) line.remove_suffix(1);
    lines.push_back(line);
    text.remove_prefix(end + 1);
  }
  return lines;
}

std::string_view trim_white_space(std::string_view text) {
  while (const std::size_t size = leading_white_space(text)) text.remove_prefix(size);
  while (const std::size_t size = trailing_white_space(text)) text.remove_suffix(size);
  return text;
}

std::vector<std::string_view> trimmed_lines(std::string_view text) {
  std::vector<std::string_view> lines = split_lines(text);
  for (auto& line : lines) line = trim_white_space(line);
  std::erase_if(lines, [](std::string_view line) { return line.empty(); });
  return lines;
}

}  // namespace sorvik_lib::strategies::docker
