// The log escaper on arbitrary bytes: the quoted form is valid UTF-8 on one line, between double
// quotes, with no raw control or invisible character, and reading its escapes back gives the text
// (with U+FFFD for each ill-formed sequence).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_check.hpp"
#include "sorvik_lib/log/quoted.hpp"
#include "sorvik_lib/types/utf8.hpp"

namespace {

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The text inside the quotes with every escape read back; nothing for a malformed escape or a
// quote or backslash standing alone.
[[nodiscard]] std::optional<std::string> unescape(std::string_view body) {
  std::string out;
  for (std::size_t at = 0; at < body.size(); ++at) {
    const char c = body[at];
    if (c == '"') return std::nullopt;
    if (c != '\\') {
      out += c;
      continue;
    }
    if (++at == body.size()) return std::nullopt;
    switch (body[at]) {
      case '"':
      case '\\':
        out += body[at];
        continue;
      case 'n':
        out += '\n';
        continue;
      case 'r':
        out += '\r';
        continue;
      case 't':
        out += '\t';
        continue;
      case '0':
        out += '\0';
        continue;
      case 'u':
        break;
      default:
        return std::nullopt;
    }
    if (++at == body.size() || body[at] != '{') return std::nullopt;
    const std::size_t close = body.find('}', at);
    if (close == std::string_view::npos || close == at + 1 || close - at > 7) return std::nullopt;
    char32_t code = 0;
    for (std::size_t i = at + 1; i < close; ++i) {
      const char h = body[i];
      const bool digit = h >= '0' && h <= '9';
      const bool lower = h >= 'a' && h <= 'f';
      if (!digit && !lower) return std::nullopt;  // lower-case hexadecimal only
      code = code * 16 + static_cast<char32_t>(digit ? h - '0' : h - 'a' + 10);
    }
    if (body[at + 1] == '0' || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      return std::nullopt;  // no leading zeros, and only scalar values
    }
    append_utf8(out, code);
    at = close;
  }
  return out;
}

// Whether the valid UTF-8 `text` holds a character that must never appear raw in a log line.
bool has_raw_unprintable(std::string_view text) {
  for (std::size_t at = 0; at < text.size(); ++at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x20 || byte == 0x7F) return true;
    // C1 controls are C2 80 to C2 9F; the line and paragraph separators E2 80 A8 and E2 80 A9,
    // the bidirectional overrides E2 80 AA to E2 80 AE, and the byte order mark EF BB BF.
    if (byte == 0xC2 && at + 1 < text.size()) {
      const auto next = static_cast<unsigned char>(text[at + 1]);
      if (next >= 0x80 && next <= 0x9F) return true;
    }
    if (text.substr(at).starts_with("\xE2\x80") && at + 2 < text.size()) {
      const auto last = static_cast<unsigned char>(text[at + 2]);
      if (last >= 0xA8 && last <= 0xAE) return true;
    }
    if (text.substr(at).starts_with("\xEF\xBB\xBF")) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sorvik_lib;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string shown = log::quoted(text);
  SORVIK_FUZZ_CHECK(types::is_valid_utf8(shown));
  SORVIK_FUZZ_CHECK(shown.size() >= 2 && shown.front() == '"' && shown.back() == '"');
  SORVIK_FUZZ_CHECK(!has_raw_unprintable(shown));
  const auto read_back = unescape(std::string_view(shown).substr(1, shown.size() - 2));
  SORVIK_FUZZ_CHECK(read_back.has_value());
  SORVIK_FUZZ_CHECK(*read_back ==
                    (types::is_valid_utf8(text) ? std::string(text) : types::to_utf8_lossy(text)));
  return 0;
}
