// Both request decoders on arbitrary bytes: no crash, no leak, and a decoded request re-encodes
// to exactly the bytes it was decoded from.
#include <cstdint>
#include <string_view>

#include "fuzz_check.hpp"
#include "sorvik_lib/types/wire.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sorvik_lib::types;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (const auto request = decode_request(input)) {
    const auto encoded = encode_request(*request);
    SORVIK_FUZZ_CHECK(encoded && input.starts_with(*encoded));
  } else if (request.error().kind == DecodeErrorKind::InvalidTag) {
    SORVIK_FUZZ_CHECK(size >= 4 && request.error().message.starts_with("invalid value: integer `"));
  }
  if (const auto bare = decode_elevated_request(input)) {
    const auto encoded = encode_elevated_request(*bare);
    SORVIK_FUZZ_CHECK(encoded && input.starts_with(*encoded));
  }
  return 0;
}
