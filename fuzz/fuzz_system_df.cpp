// docker's disk-usage report on arbitrary text: no crash and no exception out of the JSON parser,
// always the five options in their fixed order or a ParseError with a readable message, and
// "\r\n" line ends read exactly like "\n".
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.hpp"
#include "sorvik_lib/strategies/docker/usage.hpp"
#include "sorvik_lib/types/utf8.hpp"

namespace {

using sorvik_lib::strategies::StrategyError;
using sorvik_lib::strategies::docker::parse_system_df;

constexpr std::array<std::string_view, 5> kIds = {
    "dangling_images", "build_cache", "stopped_containers", "all_unused_images", "unused_volumes"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view output(reinterpret_cast<const char*>(data), size);
  const std::uint64_t dangling = size * 1000 + 7;
  const auto options = parse_system_df(output, dangling);
  if (options) {
    SORVIK_FUZZ_CHECK(options->size() == kIds.size());
    for (std::size_t i = 0; i < kIds.size(); ++i) SORVIK_FUZZ_CHECK((*options)[i].id == kIds[i]);
    SORVIK_FUZZ_CHECK((*options)[0].reclaimableBytes == dangling);
  } else {
    SORVIK_FUZZ_CHECK(options.error().kind() == StrategyError::Kind::ParseError);
    SORVIK_FUZZ_CHECK(options.error().message().starts_with("Invalid JSON line: "));
    // The message is a text of the protocol, whatever bytes docker printed.
    SORVIK_FUZZ_CHECK(sorvik_lib::types::is_valid_utf8(options.error().message()));
  }
  const auto again = parse_system_df(with_crlf(output), dangling);
  SORVIK_FUZZ_CHECK(again.has_value() == options.has_value());
  if (options) {
    SORVIK_FUZZ_CHECK(*again == *options);
  } else {
    SORVIK_FUZZ_CHECK(again.error() == options.error());
  }
  return 0;
}
