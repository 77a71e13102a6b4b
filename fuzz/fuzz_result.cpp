// The result decoder on arbitrary bytes: no crash, no leak, and a decoded result re-encodes to
// exactly the bytes it was decoded from.
#include <cstdint>
#include <string_view>

#include "fuzz_check.hpp"
#include "sorvik_lib/types/wire.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sorvik_lib::types;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (const auto result = decode_result(input)) {
    const auto encoded = encode_result(*result);
    SORVIK_FUZZ_CHECK(encoded && input.starts_with(*encoded));
  }
  return 0;
}
