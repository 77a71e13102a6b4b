// The size text rule on arbitrary text: no crash, letter case never matters, and the decimal
// rendering of a 64-bit value reads back as exactly that value, in every spelling docker might use.
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_check.hpp"
#include "sorvik_lib/strategies/parse_size.hpp"

namespace {

using sorvik_lib::strategies::parse_size;

std::string with_case(std::string_view text, bool upper) {
  std::string out(text);
  for (char& c : out) {
    if (upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (!upper && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// "1234567" as "1_234_567".
std::string grouped(const std::string& digits) {
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i != 0 && (digits.size() - i) % 3 == 0) out += '_';
    out += digits[i];
  }
  return out;
}

[[nodiscard]] std::optional<std::uint64_t> times(std::uint64_t value, std::uint64_t factor) {
  std::uint64_t product;
  if (__builtin_mul_overflow(value, factor, &product)) return std::nullopt;
  return product;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto value = parse_size(text);
  // Every letter the rule knows (unit, "i", "B", exponent "e") is read in either case.
  SORVIK_FUZZ_CHECK(parse_size(with_case(text, true)) == value);
  SORVIK_FUZZ_CHECK(parse_size(with_case(text, false)) == value);

  // A value from the input's first bytes, rendered the ways a size text can state it.
  std::uint64_t n = 0;
  std::memcpy(&n, data, size < sizeof n ? size : sizeof n);
  const std::string decimal = std::to_string(n);
  SORVIK_FUZZ_CHECK(parse_size(decimal) == n);
  SORVIK_FUZZ_CHECK(parse_size(decimal + "B") == n);
  SORVIK_FUZZ_CHECK(parse_size(" " + decimal + " b") == n);
  SORVIK_FUZZ_CHECK(parse_size(grouped(decimal)) == n);
  SORVIK_FUZZ_CHECK(parse_size(decimal + ".0") == n);
  SORVIK_FUZZ_CHECK(parse_size(decimal + ".4999999999999999999999") == n);
  SORVIK_FUZZ_CHECK(parse_size(decimal + "e0") == n);
  SORVIK_FUZZ_CHECK(parse_size(decimal + "e-3kB") == n);
  SORVIK_FUZZ_CHECK(parse_size(decimal + "E-18EB") == n);
  SORVIK_FUZZ_CHECK(parse_size("0." + decimal + "e" + std::to_string(decimal.size())) == n);
  // Exact halves round up, and one past the largest value fails instead of wrapping.
  const std::optional<std::uint64_t> rounded_up =
      n == UINT64_MAX ? std::nullopt : std::optional<std::uint64_t>(n + 1);
  SORVIK_FUZZ_CHECK(parse_size(decimal + ".5") == rounded_up);
  SORVIK_FUZZ_CHECK(parse_size(decimal + "kB") == times(n, 1000));
  SORVIK_FUZZ_CHECK(parse_size(decimal + " KiB") == times(n, 1024));
  SORVIK_FUZZ_CHECK(parse_size(decimal + "Mi") == times(n, 1024 * 1024));
  SORVIK_FUZZ_CHECK(parse_size(decimal + "e3") == times(n, 1000));
  // A sign is never part of a size.
  SORVIK_FUZZ_CHECK(!parse_size("-" + decimal));
  SORVIK_FUZZ_CHECK(!parse_size("+" + decimal));
  return 0;
}
