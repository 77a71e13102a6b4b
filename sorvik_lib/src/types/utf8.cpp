// UTF-8 validation and lossy conversion, written out so that the decoder's hot loop can skip
// runs of ASCII eight bytes at a time.
#include "sorvik_lib/types/utf8.hpp"

#include <cstdint>
#include <cstring>

namespace sorvik_lib::types {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Length of the well-formed sequence that starts at `at`, or 0 when the bytes there are
// ill-formed. `ill_formed_length` then receives the length of the maximal subpart to replace.
std::size_t sequence_length(const unsigned char* at, std::size_t remaining,
                            std::size_t& ill_formed_length) {
  const unsigned char lead = at[0];
  ill_formed_length = 1;
  if (lead < 0x80) return 1;
  std::size_t length;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
  } else {
    return 0;
  }
  for (std::size_t i = 1; i < length; ++i) {
    if (i >= remaining) return 0;
    const unsigned char byte = at[i];
    const unsigned char min = i == 1 ? low : 0x80;
    const unsigned char max = i == 1 ? high : 0xBF;
    if (byte < min || byte > max) return 0;
    ill_formed_length = i + 1;
  }
  return length;
}

// Bytes from `at` that are all ASCII, counted eight at a time.
std::size_t ascii_prefix(const unsigned char* at, std::size_t remaining) {
  std::size_t i = 0;
  while (i + 8 <= remaining) {
    std::uint64_t word;
    std::memcpy(&word, at + i, sizeof word);
    if (word & 0x8080808080808080ULL) break;
    i += 8;
  }
  while (i < remaining && at[i] < 0x80) ++i;
  return i;
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t i = 0;
  const std::size_t size = bytes.size();
  while (i < size) {
    i += ascii_prefix(data + i, size - i);
    if (i == size) break;
    std::size_t ignored;
    const std::size_t length = sequence_length(data + i, size - i, ignored);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::string to_utf8_lossy(std::string_view bytes) {
  if (is_valid_utf8(bytes)) return std::string(bytes);
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  std::size_t i = 0;
  while (i < bytes.size()) {
    std::size_t ill_formed_length;
    const std::size_t length = sequence_length(data + i, bytes.size() - i, ill_formed_length);
    if (length == 0) {
      out += kReplacement;
      i += ill_formed_length;
    } else {
      out.append(bytes.substr(i, length));
      i += length;
    }
  }
  return out;
}

}  // namespace sorvik_lib::types
