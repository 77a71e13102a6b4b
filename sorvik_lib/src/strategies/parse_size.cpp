// The size text rule, in exact decimal arithmetic: the number's digits are kept as text and
// multiplied by the unit digit by digit, so "0.5" rounds up exactly and values near 2^64 are
// neither rounded nor wrapped.
#include "sorvik_lib/strategies/parse_size.hpp"

#include <algorithm>
#include <string>

namespace sorvik_lib::strategies {
namespace {

// Below this decimal exponent a number counts as 0, however many digits it has.
constexpr std::int64_t kSmallestExponent = -38;
// Exponents are clamped here; anything larger overflows (or is 0 times something) anyway.
constexpr std::int64_t kExponentClamp = 1'000'000'000'000;
// 2^64 has 20 decimal digits.
constexpr std::size_t kMaxDigits = 20;

// A decimal number as its significant digits (no leading zeros; empty for zero) times a power
// of ten.
struct Decimal {
  std::string digits;
  std::int64_t exponent = 0;
};

bool is_ignored(char c) { return c == ' ' || c == '_'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

[[nodiscard]] std::optional<Decimal> parse_decimal(std::string_view text) {
  Decimal number;
  std::size_t at = 0;
  const auto skip_ignored = [&] {
    while (at < text.size() && is_ignored(text[at])) ++at;
  };
  bool any_digit = false;
  bool in_fraction = false;
  std::int64_t fraction_digits = 0;
  for (; at < text.size(); ++at) {
    const char c = text[at];
    if (is_ignored(c)) continue;
    if (c == '.' && !in_fraction) {
      in_fraction = true;
      continue;
    }
    if (!is_digit(c)) break;
    any_digit = true;
    if (in_fraction) ++fraction_digits;
    if (c != '0' || !number.digits.empty()) number.digits.push_back(c);
  }
  if (!any_digit) return std::nullopt;

  std::int64_t exponent = 0;
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    skip_ignored();
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
      negative = text[at] == '-';
      ++at;
    }
    bool any_exponent_digit = false;
    for (; at < text.size(); ++at) {
      const char c = text[at];
      if (is_ignored(c)) continue;
      if (!is_digit(c)) break;
      any_exponent_digit = true;
      exponent = std::min(exponent * 10 + (c - '0'), kExponentClamp);
    }
    if (!any_exponent_digit) return std::nullopt;
    if (negative) exponent = -exponent;
  }
  if (at != text.size()) return std::nullopt;
  number.exponent = exponent - fraction_digits;
  return number;
}

// `digits` (most significant first) times `factor`, which is at most 2^60 so that no step
// overflows: each step holds at most 9 * factor plus a carry below factor.
std::string multiply(const std::string& digits, std::uint64_t factor) {
  std::string product;
  product.reserve(digits.size() + kMaxDigits);
  std::uint64_t carry = 0;
  for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
    const std::uint64_t step = static_cast<std::uint64_t>(*it - '0') * factor + carry;
    product.push_back(static_cast<char>('0' + step % 10));
    carry = step / 10;
  }
  for (; carry != 0; carry /= 10) product.push_back(static_cast<char>('0' + carry % 10));
  std::reverse(product.begin(), product.end());
  return product;
}

[[nodiscard]] std::optional<std::uint64_t> to_uint64(std::string_view digits) {
  if (digits.size() > kMaxDigits) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : digits) {
    if (__builtin_mul_overflow(value, 10u, &value) ||
        __builtin_add_overflow(value, static_cast<std::uint64_t>(c - '0'), &value)) {
      return std::nullopt;
    }
  }
  return value;
}

// 1000^power or 1024^power for a unit letter of either case; 0 when `letter` is no unit.
std::uint64_t unit_multiplier(char letter, bool binary) {
  static constexpr std::string_view kLetters = "KMGTPE";
  const char upper =
      letter >= 'a' && letter <= 'z' ? static_cast<char>(letter - 'a' + 'A') : letter;
  const auto power = kLetters.find(upper);
  if (power == std::string_view::npos) return 0;
  std::uint64_t multiplier = 1;
  for (std::size_t i = 0; i <= power; ++i) multiplier *= binary ? 1024 : 1000;
  return multiplier;
}

}  // namespace

std::optional<std::uint64_t> parse_size(std::string_view text) {
  const auto ends_with_either = [&](char upper) {
    return !text.empty() && (text.back() == upper || text.back() == (upper | 0x20));
  };
  bool binary = false;
  if (ends_with_either('B')) {
    text.remove_suffix(1);
    if (ends_with_either('I')) {
      text.remove_suffix(1);
      binary = true;
    }
  } else if (ends_with_either('I')) {
    text.remove_suffix(1);
    binary = true;
  }
  std::uint64_t multiplier = 1;
  if (!text.empty()) {
    if (const std::uint64_t unit = unit_multiplier(text.back(), binary); unit != 0) {
      multiplier = unit;
      text.remove_suffix(1);
    }
  }

  auto number = parse_decimal(text);
  if (!number) return std::nullopt;
  if (number->exponent < kSmallestExponent || number->digits.empty()) return 0;

  std::string product = multiply(number->digits, multiplier);
  if (number->exponent >= 0) {
    if (product.size() + static_cast<std::uint64_t>(number->exponent) > kMaxDigits) {
      return std::nullopt;
    }
    product.append(static_cast<std::size_t>(number->exponent), '0');
    return to_uint64(product);
  }
  // Drop the digits below the point; the first of them decides the rounding.
  const auto dropped = static_cast<std::size_t>(-number->exponent);
  const std::size_t kept = product.size() > dropped ? product.size() - dropped : 0;
  const char first_dropped =
      product.size() >= dropped ? product[kept] : '0';  // a shorter product starts lower still
  auto value = to_uint64(std::string_view(product).substr(0, kept));
  if (!value) return std::nullopt;
  if (first_dropped >= '5' && __builtin_add_overflow(*value, 1u, &*value)) return std::nullopt;
  return value;
}

}  // namespace sorvik_lib::strategies
