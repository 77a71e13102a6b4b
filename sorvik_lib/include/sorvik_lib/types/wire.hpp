// The binary encoding of the records: little-endian fixed-width integers, texts and paths as an
// 8-byte length and their UTF-8 bytes, lists as an 8-byte count and their elements, the request
// variant as a 4-byte tag and its payload. No header, version or field names.
//
// Decoders read from the first byte and ignore whatever follows a complete record. They never
// allocate for a declared length or count the input cannot hold: a list is reserved only once all
// its elements have been seen. Encoders size the output first and allocate it once.
#pragma once

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>

#include "sorvik_lib/types/records.hpp"

namespace sorvik_lib::types {

enum class DecodeErrorKind {
  UnexpectedEnd,  // the input ends inside a field
  InvalidUtf8,    // a text or path is not well-formed UTF-8
  InvalidTag,     // the request variant tag is neither 0 nor 1
};

struct DecodeError {
  DecodeErrorKind kind;
  std::string message;

  friend bool operator==(const DecodeError&, const DecodeError&) = default;
};

// The one encode error: a path that is not valid UTF-8 cannot travel.
struct EncodeError {
  std::string message;
};

inline constexpr std::string_view kInvalidPathEncoding = "path contains invalid UTF-8 characters";

// The helper's side.
[[nodiscard]] std::expected<SidecarRequest, DecodeError> decode_request(std::string_view input);
// A request record without the variant tag in front.
[[nodiscard]] std::expected<ElevatedCleanRequest, DecodeError> decode_elevated_request(
    std::string_view input);

// The same decoders for a caller that hands its buffer over. When the record decodes, the pages of
// `input` are given back to the system while the texts are copied out of it, so a large request is
// never held twice, and `input` is left empty. When it does not decode, `input` is untouched.
[[nodiscard]] std::expected<SidecarRequest, DecodeError> decode_request_consuming(
    std::string& input);
[[nodiscard]] std::expected<ElevatedCleanRequest, DecodeError> decode_elevated_request_consuming(
    std::string& input);
// Fails only on a path (in `removed` or `errors`) that is not valid UTF-8; messages are not
// checked.
[[nodiscard]] std::expected<std::string, EncodeError> encode_result(const CleanResult& result);

// The application's side. Request encoders refuse any text or path that is not valid UTF-8, since
// the helper would refuse to decode it.
[[nodiscard]] std::expected<std::string, EncodeError> encode_request(const SidecarRequest& request);
[[nodiscard]] std::expected<std::string, EncodeError> encode_elevated_request(
    const ElevatedCleanRequest& request);
[[nodiscard]] std::expected<CleanResult, DecodeError> decode_result(std::string_view input);

}  // namespace sorvik_lib::types
