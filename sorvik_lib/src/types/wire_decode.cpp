// Decoding the wire form. Integers are read byte by byte in little-endian order, so the code is
// the same on any host; compilers turn the loops into single loads.
//
// Each record is decoded in two passes over the same layout code. The check pass allocates
// nothing: it checks every length against the bytes that remain and every text for UTF-8, so a
// corrupt count or length costs no memory at all. Only a record known to be complete is built,
// each list reserved at its exact size and each text copied once; a caller that hands its buffer
// over has the pages already copied out given back while the build goes on.
#include <fmt/format.h>

#include <cstdint>

#include "sorvik_lib/sys/memory.hpp"
#include "sorvik_lib/types/utf8.hpp"
#include "sorvik_lib/types/wire.hpp"

namespace sorvik_lib::types {
namespace {

enum class Pass { Check, Build };
enum class Consumed { Keep, Discard };

// Consumed input is given back in steps of this size, so the calls stay few.
constexpr std::size_t kDiscardStep = 1 << 20;

[[nodiscard]] DecodeError unexpected_end() {
  return {DecodeErrorKind::UnexpectedEnd, "unexpected end of input"};
}

[[nodiscard]] DecodeError invalid_utf8() {
  return {DecodeErrorKind::InvalidUtf8, "invalid UTF-8 in a text or path"};
}

[[nodiscard]] DecodeError invalid_tag(std::uint32_t tag) {
  return {DecodeErrorKind::InvalidTag,
          fmt::format("invalid value: integer `{}`, expected variant index 0 <= i < 2", tag)};
}

class Reader {
 public:
  Reader(std::string_view input, Pass pass, Consumed consumed)
      : input_(input), pass_(pass), consumed_(consumed) {}

  template <typename Integer>
  [[nodiscard]] std::expected<Integer, DecodeError> read_integer() {
    if (remaining() < sizeof(Integer)) return std::unexpected(unexpected_end());
    Integer value = 0;
    for (std::size_t i = 0; i < sizeof(Integer); ++i) {
      value |= static_cast<Integer>(static_cast<unsigned char>(input_[position_ + i])) << (8 * i);
    }
    position_ += sizeof(Integer);
    return value;
  }

  // The check pass checks the text and gives back an empty one.
  [[nodiscard]] std::expected<std::string, DecodeError> read_text() {
    const auto length = read_integer<std::uint64_t>();
    if (!length) return std::unexpected(length.error());
    if (*length > remaining()) return std::unexpected(unexpected_end());
    const std::string_view bytes = input_.substr(position_, static_cast<std::size_t>(*length));
    position_ += bytes.size();
    if (pass_ == Pass::Check) {
      if (!is_valid_utf8(bytes)) return std::unexpected(invalid_utf8());
      return std::string();
    }
    std::string text(bytes);
    if (consumed_ == Consumed::Discard && position_ - discarded_ >= kDiscardStep) {
      sys::discard_pages(input_.data() + discarded_, input_.data() + position_);
      discarded_ = position_;
    }
    return text;
  }

  // A count, then that many elements read by `read_element`. The build pass reserves the exact
  // count: the check pass has seen every one of those elements in the input.
  template <typename Element, typename ReadElement>
  [[nodiscard]] std::expected<std::vector<Element>, DecodeError> read_list(
      ReadElement read_element) {
    const auto count = read_integer<std::uint64_t>();
    if (!count) return std::unexpected(count.error());
    std::vector<Element> list;
    if (pass_ == Pass::Build) list.reserve(static_cast<std::size_t>(*count));
    for (std::uint64_t i = 0; i < *count; ++i) {
      auto element = read_element(*this);
      if (!element) return std::unexpected(element.error());
      if (pass_ == Pass::Build) list.push_back(std::move(*element));
    }
    return list;
  }

  [[nodiscard]] std::expected<std::vector<std::string>, DecodeError> read_text_list() {
    return read_list<std::string>([](Reader& reader) { return reader.read_text(); });
  }

 private:
  [[nodiscard]] std::size_t remaining() const { return input_.size() - position_; }

  std::string_view input_;
  Pass pass_;
  Consumed consumed_;
  std::size_t position_ = 0;
  std::size_t discarded_ = 0;
};

[[nodiscard]] std::expected<ElevatedCleanRequest, DecodeError> read_elevated(Reader& reader) {
  ElevatedCleanRequest request;
  auto paths = reader.read_text_list();
  if (!paths) return std::unexpected(paths.error());
  request.paths = std::move(*paths);
  auto preserved = reader.read_text_list();
  if (!preserved) return std::unexpected(preserved.error());
  request.preserveRootPaths = std::move(*preserved);
  return request;
}

[[nodiscard]] std::expected<ManagedCleanRequest, DecodeError> read_managed(Reader& reader) {
  ManagedCleanRequest request;
  auto strategy = reader.read_text();
  if (!strategy) return std::unexpected(strategy.error());
  request.strategy = std::move(*strategy);
  auto options = reader.read_text_list();
  if (!options) return std::unexpected(options.error());
  request.options = std::move(*options);
  return request;
}

[[nodiscard]] std::expected<SidecarRequest, DecodeError> read_request(Reader& reader) {
  const auto tag = reader.read_integer<std::uint32_t>();
  if (!tag) return std::unexpected(tag.error());
  switch (*tag) {
    case 0: {
      auto request = read_elevated(reader);
      if (!request) return std::unexpected(request.error());
      return SidecarRequest(std::in_place_index<0>, std::move(*request));
    }
    case 1: {
      auto request = read_managed(reader);
      if (!request) return std::unexpected(request.error());
      return SidecarRequest(std::in_place_index<1>, std::move(*request));
    }
    default:
      return std::unexpected(invalid_tag(*tag));
  }
}

[[nodiscard]] std::expected<ErrorEntry, DecodeError> read_error_entry(Reader& reader) {
  auto path = reader.read_text();
  if (!path) return std::unexpected(path.error());
  auto message = reader.read_text();
  if (!message) return std::unexpected(message.error());
  return ErrorEntry{std::move(*path), std::move(*message)};
}

[[nodiscard]] std::expected<CleanResult, DecodeError> read_result(Reader& reader) {
  CleanResult result;
  auto removed = reader.read_text_list();
  if (!removed) return std::unexpected(removed.error());
  result.removed = std::move(*removed);
  auto errors = reader.read_list<ErrorEntry>(read_error_entry);
  if (!errors) return std::unexpected(errors.error());
  result.errors = std::move(*errors);
  const auto bytes = reader.read_integer<std::uint64_t>();
  if (!bytes) return std::unexpected(bytes.error());
  result.bytesFreed = *bytes;
  return result;
}

// Checks the record `read` describes, then builds it.
template <typename Read>
auto check_then_build(std::string_view input, Consumed consumed, Read read) {
  Reader check(input, Pass::Check, Consumed::Keep);
  if (auto checked = read(check); !checked) return checked;
  Reader build(input, Pass::Build, consumed);
  return read(build);
}

// The consuming forms leave `input` empty once they have succeeded.
template <typename Read>
auto consume_then_build(std::string& input, Read read) {
  auto decoded = check_then_build(input, Consumed::Discard, read);
  if (decoded) input = std::string();
  return decoded;
}

}  // namespace

std::expected<SidecarRequest, DecodeError> decode_request(std::string_view input) {
  return check_then_build(input, Consumed::Keep, read_request);
}

std::expected<ElevatedCleanRequest, DecodeError> decode_elevated_request(std::string_view input) {
  return check_then_build(input, Consumed::Keep, read_elevated);
}

std::expected<SidecarRequest, DecodeError> decode_request_consuming(std::string& input) {
  return consume_then_build(input, read_request);
}

std::expected<ElevatedCleanRequest, DecodeError> decode_elevated_request_consuming(
    std::string& input) {
  return consume_then_build(input, read_elevated);
}

std::expected<CleanResult, DecodeError> decode_result(std::string_view input) {
  return check_then_build(input, Consumed::Keep, read_result);
}

}  // namespace sorvik_lib::types
