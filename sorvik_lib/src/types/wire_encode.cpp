// Encoding the wire form. Integers are written byte by byte in little-endian order, so the code is
// the same on any host; compilers turn the loops into single stores.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "sorvik_lib/types/utf8.hpp"
#include "sorvik_lib/types/wire.hpp"

namespace sorvik_lib::types {
namespace {

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

[[nodiscard]] EncodeError invalid_path_encoding() { return {std::string(kInvalidPathEncoding)}; }

[[nodiscard]] std::expected<std::string, EncodeError> encode_tagged(std::uint32_t tag,
                                                                    std::size_t payload_size,
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

}  // namespace sorvik_lib::types
