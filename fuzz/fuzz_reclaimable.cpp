// The "Reclaimable" column on arbitrary text: no crash, and the share in parentheses and the
// white space around the size never change the figure.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.hpp"
#include "sorvik_lib/strategies/docker/usage.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using sorvik_lib::strategies::docker::parse_reclaimable;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::uint64_t figure = parse_reclaimable(text);
  if (text.find('(') == std::string_view::npos) {
    const std::string padded = " \t" + std::string(text) + "\xC2\xA0 ";
    SORVIK_FUZZ_CHECK(parse_reclaimable(padded + "(45%)") == figure);
    SORVIK_FUZZ_CHECK(parse_reclaimable(std::string(text) + "(" + std::string(text)) == figure);
  }
  return 0;
}
