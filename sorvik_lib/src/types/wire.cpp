// The wire codec. Integers are read and written byte by byte in little-endian order, so the code
// is the same on any host; compilers turn the loops into single loads and stores.
#include "sorvik_lib/types/wire.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "sorvik_lib/types/utf8.hpp"

namespace sorvik_lib::types {
namespace {

DecodeError unexpected_end() { return {DecodeErrorKind::UnexpectedEnd, "unexpected end of input"}; }

DecodeError invalid_utf8() {
  return {DecodeErrorKind::InvalidUtf8, "invalid UTF-8 in a text or path"};
}

DecodeError invalid_tag(std::uint32_t tag) {
  return {DecodeErrorKind::InvalidTag,
          fmt::format("invalid value: integer `{}`, expected variant index 0 <= i < 2", tag)};
}

class Reader {
 public:
  explicit Reader(std::string_view input) : input_(input) {}

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

  [[nodiscard]] std::expected<std::string, DecodeError> read_text() {
    const auto length = read_integer<std::uint64_t>();
    if (!length) return std::unexpected(length.error());
    // Checked before anything is allocated, so a corrupt length costs nothing.
    if (*length > remaining()) return std::unexpected(unexpected_end());
    const std::string_view bytes = input_.substr(position_, static_cast<std::size_t>(*length));
    if (!is_valid_utf8(bytes)) return std::unexpected(invalid_utf8());
    position_ += bytes.size();
    return std::string(bytes);
  }

  [[nodiscard]] std::expected<std::vector<std::string>, DecodeError> read_text_list() {
    const auto count = read_integer<std::uint64_t>();
    if (!count) return std::unexpected(count.error());
    std::vector<std::string> list;
    list.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(*count, kMaxListReservation)));
    for (std::uint64_t i = 0; i < *count; ++i) {
      auto text = read_text();
      if (!text) return std::unexpected(text.error());
      list.push_back(std::move(*text));
    }
    return list;
  }

 private:
  [[nodiscard]] std::size_t remaining() const { return input_.size() - position_; }

  std::string_view input_;
  std::size_t position_ = 0;
};

std::expected<ElevatedCleanRequest, DecodeError> read_elevated(Reader& reader) {
  ElevatedCleanRequest request;
  auto paths = reader.read_text_list();
  if (!paths) return std::unexpected(paths.error());
  request.paths = std::move(*paths);
  auto preserved = reader.read_text_list();
  if (!preserved) return std::unexpected(preserved.error());
  request.preserveRootPaths = std::move(*preserved);
  return request;
}

std::expected<ManagedCleanRequest, DecodeError> read_managed(Reader& reader) {
  ManagedCleanRequest request;
  auto strategy = reader.read_text();
  if (!strategy) return std::unexpected(strategy.error());
  request.strategy = std::move(*strategy);
  auto options = reader.read_text_list();
  if (!options) return std::unexpected(options.error());
  request.options = std::move(*options);
  return request;
}

constexpr std::size_t text_size(std::string_view text) { return 8 + text.size(); }

std::size_t list_size(const std::vector<std::string>& list) {
  std::size_t total = 8;
  for (const auto& text : list) total += text_size(text);
  return total;
}

bool all_valid(const std::vector<std::string>& list) {
  return std::ranges::all_of(list, [](const std::string& text) { return is_valid_utf8(text); });
}

bool all_paths_valid(const ElevatedCleanRequest& request) {
  return all_valid(request.paths) && all_valid(request.preserveRootPaths);
}

// Writes into a buffer already sized by the caller's size pass.
class Writer {
 public:
  explicit Writer(char* out) : out_(out) {}

  template <typename Integer>
  void write_integer(Integer value) {
    for (std::size_t i = 0; i < sizeof(Integer); ++i) {
      *out_++ = static_cast<char>(static_cast<unsigned char>(value >> (8 * i)));
    }
  }

  void write_text(std::string_view text) {
    write_integer<std::uint64_t>(text.size());
    std::memcpy(out_, text.data(), text.size());
    out_ += text.size();
  }

  void write_text_list(const std::vector<std::string>& list) {
    write_integer<std::uint64_t>(list.size());
    for (const auto& text : list) write_text(text);
  }

 private:
  char* out_;
};

// Allocates exactly `size` bytes once and lets `fill` write them. (Not resize_and_overwrite:
// libstdc++ 12 sets the length to the capacity there.)
template <typename Fill>
std::string build_buffer(std::size_t size, Fill fill) {
  std::string buffer(size, '\0');
  Writer writer(buffer.data());
  fill(writer);
  return buffer;
}

EncodeError invalid_path_encoding() { return {std::string(kInvalidPathEncoding)}; }

std::expected<std::string, EncodeError> encode_tagged(std::uint32_t tag, std::size_t payload_size,
                                                      auto write_payload) {
  return build_buffer(4 + payload_size, [&](Writer& writer) {
    writer.write_integer<std::uint32_t>(tag);
    write_payload(writer);
  });
}

std::size_t elevated_size(const ElevatedCleanRequest& request) {
  return list_size(request.paths) + list_size(request.preserveRootPaths);
}

void write_elevated(Writer& writer, const ElevatedCleanRequest& request) {
  writer.write_text_list(request.paths);
  writer.write_text_list(request.preserveRootPaths);
}

}  // namespace

std::expected<SidecarRequest, DecodeError> decode_request(std::string_view input) {
  Reader reader(input);
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

std::expected<ElevatedCleanRequest, DecodeError> decode_elevated_request(std::string_view input) {
  Reader reader(input);
  return read_elevated(reader);
}

std::expected<std::string, EncodeError> encode_result(const CleanResult& result) {
  std::size_t size = list_size(result.removed) + 8 + 8;
  for (const auto& path : result.removed) {
    if (!is_valid_utf8(path)) return std::unexpected(invalid_path_encoding());
  }
  for (const auto& entry : result.errors) {
    if (!is_valid_utf8(entry.path)) return std::unexpected(invalid_path_encoding());
    size += text_size(entry.path) + text_size(entry.message);
  }
  return build_buffer(size, [&](Writer& writer) {
    writer.write_text_list(result.removed);
    writer.write_integer<std::uint64_t>(result.errors.size());
    for (const auto& entry : result.errors) {
      writer.write_text(entry.path);
      writer.write_text(entry.message);
    }
    writer.write_integer<std::uint64_t>(result.bytesFreed);
  });
}

std::expected<std::string, EncodeError> encode_elevated_request(
    const ElevatedCleanRequest& request) {
  if (!all_paths_valid(request)) return std::unexpected(invalid_path_encoding());
  return build_buffer(elevated_size(request),
                      [&](Writer& writer) { write_elevated(writer, request); });
}

std::expected<std::string, EncodeError> encode_request(const SidecarRequest& request) {
  if (const auto* elevated = std::get_if<ElevatedCleanRequest>(&request)) {
    if (!all_paths_valid(*elevated)) return std::unexpected(invalid_path_encoding());
    return encode_tagged(0, elevated_size(*elevated),
                         [&](Writer& writer) { write_elevated(writer, *elevated); });
  }
  const auto& managed = std::get<ManagedCleanRequest>(request);
  if (!is_valid_utf8(managed.strategy) || !all_valid(managed.options)) {
    return std::unexpected(EncodeError{"text contains invalid UTF-8 characters"});
  }
  return encode_tagged(1, text_size(managed.strategy) + list_size(managed.options),
                       [&](Writer& writer) {
                         writer.write_text(managed.strategy);
                         writer.write_text_list(managed.options);
                       });
}

std::expected<CleanResult, DecodeError> decode_result(std::string_view input) {
  Reader reader(input);
  CleanResult result;
  auto removed = reader.read_text_list();
  if (!removed) return std::unexpected(removed.error());
  result.removed = std::move(*removed);
  const auto count = reader.read_integer<std::uint64_t>();
  if (!count) return std::unexpected(count.error());
  result.errors.reserve(
      static_cast<std::size_t>(std::min<std::uint64_t>(*count, kMaxListReservation)));
  for (std::uint64_t i = 0; i < *count; ++i) {
    auto path = reader.read_text();
    if (!path) return std::unexpected(path.error());
    auto message = reader.read_text();
    if (!message) return std::unexpected(message.error());
    result.errors.push_back({std::move(*path), std::move(*message)});
  }
  const auto bytes = reader.read_integer<std::uint64_t>();
  if (!bytes) return std::unexpected(bytes.error());
  result.bytesFreed = *bytes;
  return result;
}

}  // namespace sorvik_lib::types
