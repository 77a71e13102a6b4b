// Terminal-safe texts and their widths.
#include "display_text.hpp"

#include <algorithm>
#include <vector>

#include "sorvik_lib/log/quoted.hpp"

namespace sorvik_cli {
namespace {

// "…": one column on most terminals, two on some set up for East Asian text, and counted as two.
constexpr std::string_view kEllipsis = "\xe2\x80\xa6";

// Where the UTF-8 sequence that starts at `at` ends; `text` is valid UTF-8.
std::size_t sequence_end(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  return std::min(at + length, text.size());
}

// Where the character that starts at `at` ends. An escape ("\n", "\\", "\u{1b}") is one
// character here: a cut inside one would leave a fragment ("\u{1") that reads as another escape
// or as a lone backslash, which the doubling of backslashes rules out.
std::size_t character_end(std::string_view text, std::size_t at) {
  if (text[at] != '\\' || at + 1 == text.size()) return sequence_end(text, at);
  if (text.substr(at + 1).starts_with("u{")) {
    const std::size_t close = text.find('}', at + 3);
    if (close != std::string_view::npos) return close + 1;
  }
  return sequence_end(text, at + 1);
}

// Whether the character that starts at `at` lies at U+1100 or above: three- and four-byte
// sequences from E1 84 80 on.
bool counts_wide(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  if (lead >= 0xF0) return true;
  if (lead < 0xE1) return false;
  if (lead > 0xE1) return true;
  return at + 1 < text.size() && static_cast<unsigned char>(text[at + 1]) >= 0x84;
}

// The columns of the character (or escape) from `at` to `end`: an escape is ASCII, a column a
// byte.
std::size_t character_width(std::string_view text, std::size_t at, std::size_t end) {
  if (text[at] == '\\') return end - at;
  return counts_wide(text, at) ? 2 : 1;
}

struct Character {
  std::size_t begin;
  std::size_t end;
  std::size_t width;
};

std::vector<Character> characters(std::string_view text) {
  std::vector<Character> out;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = character_end(text, at);
    out.push_back({at, end, character_width(text, at, end)});
    at = end;
  }
  return out;
}

}  // namespace

std::string displayable(std::string_view bytes) { return sorvik_lib::log::escaped(bytes); }

std::string displayable_message(std::string_view bytes) {
  while (!bytes.empty() && (bytes.back() == '\n' || bytes.back() == '\r' || bytes.back() == ' ' ||
                            bytes.back() == '\t')) {
    bytes.remove_suffix(1);
  }
  return displayable(bytes);
}

std::size_t display_width(std::string_view text) {
  std::size_t width = 0;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = character_end(text, at);
    width += character_width(text, at, end);
    at = end;
  }
  return width;
}

std::string truncate_to_width(std::string_view text, std::size_t columns) {
  std::size_t width = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = character_end(text, at);
    const std::size_t columns_taken = character_width(text, at, end);
    if (width + columns_taken > columns) break;
    width += columns_taken;
    at = end;
  }
  return std::string(text.substr(0, at));
}

std::string shorten_middle(std::string_view text, std::size_t columns) {
  if (display_width(text) <= columns) return std::string(text);
  const std::size_t ellipsis_width = display_width(kEllipsis);
  if (columns < ellipsis_width) return truncate_to_width(text, columns);
  const std::size_t room = columns - ellipsis_width;
  const std::size_t head_room = room / 3;
  const std::vector<Character> all = characters(text);

  std::size_t head_end = 0;
  std::size_t head_width = 0;
  for (const Character& c : all) {
    if (head_width + c.width > head_room) break;
    head_width += c.width;
    head_end = c.end;
  }
  // The tail takes whatever the head left, including a column a wide character could not use.
  const std::size_t tail_room = room - head_width;
  std::size_t tail_begin = text.size();
  std::size_t tail_width = 0;
  for (auto c = all.rbegin(); c != all.rend(); ++c) {
    if (tail_width + c->width > tail_room || c->begin < head_end) break;
    tail_width += c->width;
    tail_begin = c->begin;
  }
  std::string out(text.substr(0, head_end));
  out += kEllipsis;
  out += text.substr(tail_begin);
  return out;
}

}  // namespace sorvik_cli
