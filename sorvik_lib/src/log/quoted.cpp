// The quoted form of texts in log messages. A log line must stay one readable line whatever a
// child printed, so everything that moves the cursor, hides itself or changes the direction of
// the text is spelled out as an escape.
#include "sorvik_lib/log/quoted.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cstdint>

#include "sorvik_lib/types/utf8.hpp"

namespace sorvik_lib::log {
namespace {

struct Range {
  char32_t first;
  char32_t last;
};

// Characters that print nothing visible: format characters (category Cf), the line and
// paragraph separators, private use, and noncharacters. Controls are handled separately.
constexpr std::array kInvisible = {
    Range{0x00AD, 0x00AD},   Range{0x0600, 0x0605},   Range{0x061C, 0x061C},
    Range{0x06DD, 0x06DD},   Range{0x070F, 0x070F},   Range{0x0890, 0x0891},
    Range{0x08E2, 0x08E2},   Range{0x180E, 0x180E},   Range{0x200B, 0x200F},
    Range{0x2028, 0x202E},   Range{0x2060, 0x2064},   Range{0x2066, 0x206F},
    Range{0xE000, 0xF8FF},   Range{0xFDD0, 0xFDEF},   Range{0xFEFF, 0xFEFF},
    Range{0xFFF9, 0xFFFB},   Range{0x110BD, 0x110BD}, Range{0x110CD, 0x110CD},
    Range{0x13430, 0x1343F}, Range{0x1BCA0, 0x1BCA3}, Range{0x1D173, 0x1D17A},
    Range{0xE0001, 0xE0001}, Range{0xE0020, 0xE007F}, Range{0xF0000, 0x10FFFF},
};

bool is_printable(char32_t c) {
  if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return false;
  if ((c & 0xFFFE) == 0xFFFE) return false;  // U+xFFFE and U+xFFFF in every plane
  return std::none_of(kInvisible.begin(), kInvisible.end(),
                      [c](const Range& r) { return c >= r.first && c <= r.last; });
}

// Decodes the code point at `at` of well-formed UTF-8 and advances `at` past it.
char32_t next_code_point(std::string_view text, std::size_t& at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned char lead = byte(0);
  char32_t c;
  std::size_t length;
  if (lead < 0x80) {
    c = lead;
    length = 1;
  } else if (lead < 0xE0) {
    c = lead & 0x1Fu;
    length = 2;
  } else if (lead < 0xF0) {
    c = lead & 0x0Fu;
    length = 3;
  } else {
    c = lead & 0x07u;
    length = 4;
  }
  for (std::size_t i = 1; i < length; ++i) c = (c << 6) | (byte(i) & 0x3Fu);
  at += length;
  return c;
}

enum class Quotes { Around, None };

void append_escaped(std::string& out, std::string_view valid_text, Quotes quotes) {
  if (quotes == Quotes::Around) out.push_back('"');
  std::size_t at = 0;
  while (at < valid_text.size()) {
    const std::size_t start = at;
    const char32_t c = next_code_point(valid_text, at);
    switch (c) {
      case U'"':
        if (quotes == Quotes::None) break;
        out += "\\\"";
        continue;
      case U'\\':
        out += "\\\\";
        continue;
      case U'\n':
        out += "\\n";
        continue;
      case U'\r':
        out += "\\r";
        continue;
      case U'\t':
        out += "\\t";
        continue;
      case U'\0':
        out += "\\0";
        continue;
      default:
        break;
    }
    if (is_printable(c)) {
      out.append(valid_text.substr(start, at - start));
    } else {
      out += fmt::format("\\u{{{:x}}}", static_cast<std::uint32_t>(c));
    }
  }
  if (quotes == Quotes::Around) out.push_back('"');
}

std::string escape(std::string_view text, Quotes quotes) {
  std::string out;
  out.reserve(text.size() + 2);
  if (types::is_valid_utf8(text)) {
    append_escaped(out, text, quotes);
  } else {
    append_escaped(out, types::to_utf8_lossy(text), quotes);
  }
  return out;
}

}  // namespace

std::string quoted(std::string_view text) { return escape(text, Quotes::Around); }

std::string escaped(std::string_view text) { return escape(text, Quotes::None); }

std::string quoted_list(std::span<const std::string> texts) {
  std::string out = "[";
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (i != 0) out += ", ";
    out += quoted(texts[i]);
  }
  out += "]";
  return out;
}

}  // namespace sorvik_lib::log
