// The wire codec: the worked examples, round trips and every way a decode fails.
#include "sorvik_lib/types/wire.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

// Largest single allocation while `g_tracking` is set, to show what a corrupt count or length
// costs. Replacing the global operator new is the one way to see allocations inside the decoder.
std::atomic<bool> g_tracking{false};
std::atomic<std::size_t> g_largest_allocation{0};

}  // namespace

// GCC sees malloc'd memory reach free() through an inlined operator delete and calls it a mismatch;
// here both sides are ours and agree.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size) {
  if (g_tracking && size > g_largest_allocation) g_largest_allocation = size;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace sorvik_lib::types {
namespace {

using namespace std::string_literals;

std::string le64(std::uint64_t value) {
  std::string out(8, '\0');
  for (int i = 0; i < 8; ++i) out[i] = static_cast<char>(value >> (8 * i));
  return out;
}

std::string text(std::string_view bytes) { return le64(bytes.size()) + std::string(bytes); }

const std::string kManagedExample = "\x01\x00\x00\x00"s + "\x06\x00\x00\x00\x00\x00\x00\x00"s +
                                    "docker" + "\x01\x00\x00\x00\x00\x00\x00\x00"s +
                                    "\x0B\x00\x00\x00\x00\x00\x00\x00"s + "build_cache";
const std::string kElevatedExample = "\x00\x00\x00\x00"s + "\x01\x00\x00\x00\x00\x00\x00\x00"s +
                                     "\x0A\x00\x00\x00\x00\x00\x00\x00"s + "/opt/cache" +
                                     "\x00\x00\x00\x00\x00\x00\x00\x00"s;

TEST(WireExamples, ManagedRequestIs45Bytes) {
  ASSERT_EQ(kManagedExample.size(), 45u);
  const auto decoded = decode_request(kManagedExample);
  ASSERT_TRUE(decoded);
  const SidecarRequest expected(std::in_place_index<1>,
                                ManagedCleanRequest{"docker", {"build_cache"}});
  EXPECT_EQ(*decoded, expected);
  EXPECT_EQ(encode_request(expected).value(), kManagedExample);
}

TEST(WireExamples, ElevatedRequestIs38BytesAndBareFormIsItsTail) {
  ASSERT_EQ(kElevatedExample.size(), 38u);
  const ElevatedCleanRequest request{{"/opt/cache"}, {}};
  EXPECT_EQ(decode_request(kElevatedExample).value(),
            SidecarRequest(std::in_place_index<0>, request));
  EXPECT_EQ(encode_request(SidecarRequest(request)).value(), kElevatedExample);

  const std::string bare = kElevatedExample.substr(4);
  EXPECT_EQ(decode_elevated_request(bare).value(), request);
  EXPECT_EQ(encode_elevated_request(request).value(), bare);
}

TEST(WireExamples, ResultEncodings) {
  CleanResult result;
  result.removed = {"managed://docker/build_cache"};
  result.bytesFreed = 1'000'000;
  const std::string expected = le64(1) + text("managed://docker/build_cache") + le64(0) +
                               "\x40\x42\x0F\x00\x00\x00\x00\x00"s;
  ASSERT_EQ(expected.size(), 60u);
  EXPECT_EQ(encode_result(result).value(), expected);
  EXPECT_EQ(decode_result(expected).value(), result);

  EXPECT_EQ(encode_result(CleanResult{}).value(), std::string(24, '\0'));
}

TEST(WireRoundTrip, ResultWithErrorsAndEmptyTexts) {
  CleanResult result;
  result.removed = {"/a", "", "/caf\xC3\xA9"};
  result.errors = {{"/x", "Permission denied (os error 13)"}, {"stdin", ""}};
  result.bytesFreed = ~0ULL;
  const auto encoded = encode_result(result).value();
  EXPECT_EQ(encoded.size(), 8 + (8 + 2) + (8 + 0) + (8 + 6) + 8 + (16 + 2 + 31) + (16 + 5 + 0) + 8);
  EXPECT_EQ(decode_result(encoded).value(), result);
}

TEST(WireDecode, EmptyAndShortInputs) {
  EXPECT_EQ(decode_request("").error().kind, DecodeErrorKind::UnexpectedEnd);
  EXPECT_EQ(decode_elevated_request("").error().kind, DecodeErrorKind::UnexpectedEnd);
  EXPECT_EQ(decode_request("\x00\x00\x00\x00"s).error().kind, DecodeErrorKind::UnexpectedEnd);
}

TEST(WireDecode, InvalidTagNamesTheInteger) {
  const auto error = decode_request("\x02\x00\x00\x00"s + le64(0) + le64(0)).error();
  EXPECT_EQ(error.kind, DecodeErrorKind::InvalidTag);
  EXPECT_EQ(error.message, "invalid value: integer `2`, expected variant index 0 <= i < 2");
  EXPECT_EQ(decode_request("\xFF\xFF\xFF\xFF"s).error().message,
            "invalid value: integer `4294967295`, expected variant index 0 <= i < 2");
}

TEST(WireDecode, TruncationAtEveryByteIsUnexpectedEnd) {
  const std::string managed =
      "\x01\x00\x00\x00"s + text("docker") + le64(2) + text("build_cache") + text("unused_volumes");
  const std::string elevated =
      "\x00\x00\x00\x00"s + le64(2) + text("/a") + text("/b/c") + le64(1) + text("/b/c/");
  for (const std::string& full : {managed, elevated}) {
    ASSERT_TRUE(decode_request(full));
    for (std::size_t cut = 0; cut < full.size(); ++cut) {
      const auto decoded = decode_request(std::string_view(full).substr(0, cut));
      ASSERT_FALSE(decoded) << "cut at " << cut;
      EXPECT_EQ(decoded.error().kind, DecodeErrorKind::UnexpectedEnd) << "cut at " << cut;
    }
  }
  const std::string result = encode_result({{"/a"}, {{"/b", "m"}}, 7}).value();
  for (std::size_t cut = 0; cut < result.size(); ++cut) {
    EXPECT_EQ(decode_result(std::string_view(result).substr(0, cut)).error().kind,
              DecodeErrorKind::UnexpectedEnd);
  }
}

TEST(WireDecode, TextOneLongerThanTheRestIsUnexpectedEnd) {
  const std::string input = "\x01\x00\x00\x00"s + le64(7) + "docker";
  EXPECT_EQ(decode_request(input).error().kind, DecodeErrorKind::UnexpectedEnd);
}

TEST(WireDecode, InvalidUtf8InPathAndText) {
  const std::string bad_path = "\x00\x00\x00\x00"s + le64(1) + text("\xC3\x28") + le64(0);
  EXPECT_EQ(decode_request(bad_path).error().kind, DecodeErrorKind::InvalidUtf8);
  EXPECT_EQ(decode_elevated_request(bad_path.substr(4)).error().kind, DecodeErrorKind::InvalidUtf8);
  const std::string bad_text = "\x01\x00\x00\x00"s + text("\xC3\x28") + le64(0);
  EXPECT_EQ(decode_request(bad_text).error().kind, DecodeErrorKind::InvalidUtf8);
  const std::string bad_option = "\x01\x00\x00\x00"s + text("docker") + le64(1) + text("\xFF");
  EXPECT_EQ(decode_request(bad_option).error().kind, DecodeErrorKind::InvalidUtf8);
}

TEST(WireDecode, TrailingBytesAreIgnored) {
  EXPECT_EQ(decode_request(kManagedExample + "trailing garbage\xFF"s).value(),
            decode_request(kManagedExample).value());
  EXPECT_EQ(decode_elevated_request(kElevatedExample.substr(4) + "\x01"s).value().paths,
            std::vector<Path>{"/opt/cache"});
}

TEST(WireDecode, EmptyValuesDecodeAsTheyStand) {
  EXPECT_EQ(decode_request("\x00\x00\x00\x00"s + le64(0) + le64(0)).value(),
            SidecarRequest(ElevatedCleanRequest{}));
  EXPECT_EQ(decode_request("\x01\x00\x00\x00"s + le64(0) + le64(0)).value(),
            SidecarRequest(ManagedCleanRequest{}));
  const std::string repeated =
      "\x00\x00\x00\x00"s + le64(3) + text("") + text("/a") + text("/a") + le64(0);
  EXPECT_EQ(decode_request(repeated).value(),
            SidecarRequest(ElevatedCleanRequest{{"", "/a", "/a"}, {}}));
}

TEST(WireDecode, HugeDeclaredCountsAndLengthsCostNoLargeAllocation) {
  const std::string huge_count = "\x00\x00\x00\x00"s + le64(1ULL << 40) + text("/a") + text("/b");
  const std::string huge_length = "\x01\x00\x00\x00"s + le64(1ULL << 62) + "docker";
  const std::string huge_errors = le64(0) + le64(~0ULL) + text("/a");
  g_largest_allocation = 0;
  g_tracking = true;
  const auto count_error = decode_request(huge_count);
  const auto length_error = decode_request(huge_length);
  const auto errors_error = decode_result(huge_errors);
  g_tracking = false;
  EXPECT_EQ(count_error.error().kind, DecodeErrorKind::UnexpectedEnd);
  EXPECT_EQ(length_error.error().kind, DecodeErrorKind::UnexpectedEnd);
  EXPECT_EQ(errors_error.error().kind, DecodeErrorKind::UnexpectedEnd);
  // Nothing near what the counts declare; at most what the bytes present could hold.
  EXPECT_LE(g_largest_allocation.load(), std::size_t{1} << 20);
}

TEST(WireDecode, ConsumingFormsEmptyTheBufferOnlyOnSuccess) {
  // Large enough that pages are given back while the paths are copied out.
  std::vector<Path> paths(100'000, "/a/path/long/enough/to/fill/some/pages/of/the/request");
  std::string input = encode_request(SidecarRequest(ElevatedCleanRequest{paths, {"/k"}})).value();
  const auto decoded = decode_request_consuming(input);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(*decoded, SidecarRequest(ElevatedCleanRequest{paths, {"/k"}}));
  EXPECT_TRUE(input.empty());

  std::string bare = encode_elevated_request({paths, {}}).value();
  const std::string copy = bare;
  // A bare request is not a tagged one (its count's low bytes make no valid tag)...
  EXPECT_FALSE(decode_request_consuming(bare));
  EXPECT_EQ(bare, copy);
  // ...and decodes as what it is.
  EXPECT_EQ(decode_elevated_request_consuming(bare).value().paths, paths);
  EXPECT_TRUE(bare.empty());
}

TEST(WireEncode, PathThatIsNotUtf8FailsAndMessagesAreNotChecked) {
  CleanResult removed_bad;
  removed_bad.removed = {"/ok", "/bad\xFF"};
  EXPECT_EQ(encode_result(removed_bad).error().message, "path contains invalid UTF-8 characters");
  CleanResult error_path_bad;
  error_path_bad.errors = {{"/bad\xFF", "fine"}};
  EXPECT_EQ(encode_result(error_path_bad).error().message,
            "path contains invalid UTF-8 characters");
  CleanResult message_bad;
  message_bad.errors = {{"/ok", "not checked \xFF"}};
  EXPECT_TRUE(encode_result(message_bad));
  EXPECT_FALSE(encode_request(SidecarRequest(ElevatedCleanRequest{{}, {"/k\xFF"}})));
}

}  // namespace
}  // namespace sorvik_lib::types
