// A prune's standard output on arbitrary text: no crash, the first "Total reclaimed space:" line
// decides whatever follows it, and "\r\n" line ends read exactly like "\n".
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.hpp"
#include "sorvik_lib/strategies/docker/prune.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using sorvik_lib::strategies::docker::parse_prune_output;
  const std::string_view output(reinterpret_cast<const char*>(data), size);
  const std::uint64_t reclaimed = parse_prune_output(output);
  SORVIK_FUZZ_CHECK(parse_prune_output(with_crlf(output)) == reclaimed);
  const std::string first = "Total reclaimed space: 1.5GB\n";
  SORVIK_FUZZ_CHECK(parse_prune_output(first + std::string(output)) == 1'500'000'000u);
  SORVIK_FUZZ_CHECK(parse_prune_output("Deleted:\n" + first + std::string(output)) ==
                    1'500'000'000u);
  return 0;
}
