// Thousands of random and mutated requests through the real helper, inside a throwaway root: each
// run ends with its exit status, exactly one decodable result and nothing on standard error, and
// memory stays bounded whatever counts and lengths a request declares. Every path a request can
// name is vetted first; the throwaway root and its marker files are the safety net under that.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "sorvik_lib/types/wire.hpp"
#include "support/helper_chroot.hpp"

namespace sorvik_test {
namespace {

namespace fs = std::filesystem;
using sorvik_lib::types::CleanResult;

// Runs stop at whichever comes first. Each run starts two processes, so the time decides on a
// slow or busy machine; `make race` gives it longer.
constexpr std::uint64_t kDefaultRuns = 3000;
constexpr std::uint64_t kDefaultSeconds = 4;

// The growth over an empty request's peak that any request may cost. A sanitized helper pads
// every allocation and keeps freed memory in quarantine, which multiplies what a request costs.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::uint64_t kPeakAllowanceKib = 128 * 1024;
#else
constexpr std::uint64_t kPeakAllowanceKib = 32 * 1024;
#endif

// Texts the helper refuses by their spelling alone, whatever the root holds.
constexpr std::array<std::string_view, 8> kRefusedSpellings = {
    "/", "/usr", "/etc", "/tmp", "/bin", "relative/x", "", "/scratch/../usr"};

// Paths inside the scratch folder, which is rebuilt after every run that may have cleaned it.
constexpr std::array<std::string_view, 12> kScratchPaths = {
    "/scratch/f1",     "/scratch/d1",          "/scratch/d1/",         "/scratch//d2",
    "/scratch/d2/sub", "/scratch/link-to-d1",  "/scratch/./d2",        "/scratch/missing",
    "/scratch",        "/scratch/d2/sub/deep", "/scratch/caf\xC3\xA9", "/no-such-folder/x"};

constexpr std::array<std::string_view, 7> kOptionTexts = {
    "dangling_images", "build_cache",     "unused_volumes", "images", "",
    "Build_Cache",     "\xF0\x9F\x90\xB3"};

constexpr std::array<std::uint64_t, 7> kHugeNumbers = {
    1ULL << 62, 1ULL << 40, UINT64_MAX, 0x7FFFFFFFULL, 43'691, 1ULL << 32, UINT64_MAX - 7};

// Raw wire pieces, so that requests can hold what no encoder would write: bad UTF-8, counts that
// do not match, lengths beyond the end.
void put_u32(std::string& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>(value >> (8 * i));
}
void put_u64(std::string& out, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) out += static_cast<char>(value >> (8 * i));
}
void put_text(std::string& out, std::string_view text) {
  put_u64(out, text.size());
  out += text;
}

class RequestMaker {
 public:
  explicit RequestMaker(std::uint64_t seed) : random_(seed) {}

  std::string next() {
    switch (pick(10)) {
      case 0:
        return random_bytes(pick(80));
      case 1:
        return huge_declarations();
      case 2:
      case 3:
        return managed();
      case 4:
      case 5:
      case 6:
        return elevated();
      default:
        return mutate(pick(3) == 0 ? managed() : elevated());
    }
  }

 private:
  std::size_t pick(std::size_t bound) {
    return std::uniform_int_distribution<std::size_t>(0, bound - 1)(random_);
  }

  std::string random_bytes(std::size_t size) {
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(pick(256));
    return bytes;
  }

  std::string some_path() {
    if (pick(16) == 0) return "/scratch/\xFF\xFE";  // not UTF-8: the request fails to decode
    if (pick(5) == 0) return std::string(kRefusedSpellings[pick(kRefusedSpellings.size())]);
    return std::string(kScratchPaths[pick(kScratchPaths.size())]);
  }

  std::string elevated() {
    std::string out;
    if (pick(4) != 0) put_u32(out, 0);  // else the bare form
    for (int list = 0; list < 2; ++list) {
      const std::size_t count = pick(5);
      put_u64(out, count);
      for (std::size_t i = 0; i < count; ++i) put_text(out, some_path());
    }
    return out;
  }

  std::string managed() {
    std::string out;
    put_u32(out, 1);
    put_text(out, pick(3) == 0 ? "Docker" : "docker");
    const std::size_t count = pick(4);
    put_u64(out, count);
    for (std::size_t i = 0; i < count; ++i) put_text(out, kOptionTexts[pick(kOptionTexts.size())]);
    return out;
  }

  // Counts and lengths far beyond the bytes that follow them.
  std::string huge_declarations() {
    std::string out;
    put_u32(out, static_cast<std::uint32_t>(pick(2)));
    const std::uint64_t huge = kHugeNumbers[pick(kHugeNumbers.size())];
    if (pick(2) == 0) {
      put_u64(out, huge);  // a count, then a few real elements
      for (std::size_t i = pick(50); i > 0; --i) put_text(out, pick(2) == 0 ? "" : "/scratch/f1");
    } else {
      put_u64(out, 1);
      put_u64(out, huge);  // a length
      out += "/scratch";
    }
    return out;
  }

  std::string mutate(std::string bytes) {
    for (std::size_t edits = 1 + pick(3); edits > 0; --edits) {
      const std::size_t at = bytes.empty() ? 0 : pick(bytes.size());
      switch (pick(6)) {
        case 0:
          if (!bytes.empty()) bytes[at] = static_cast<char>(bytes[at] ^ (1 << pick(8)));
          break;
        case 1:
          if (!bytes.empty()) bytes[at] = static_cast<char>(pick(256));
          break;
        case 2: {
          std::string number;
          put_u64(number, kHugeNumbers[pick(kHugeNumbers.size())]);
          bytes.replace(at, std::min<std::size_t>(8, bytes.size() - at), number);
          break;
        }
        case 3:
          bytes.resize(at);
          break;
        case 4:
          bytes.insert(at, random_bytes(1 + pick(8)));
          break;
        default:
          bytes.erase(at, 1 + pick(8));
          break;
      }
    }
    return bytes;
  }

  std::mt19937_64 random_;
};

[[nodiscard]] std::optional<std::vector<std::string>> elevated_paths(std::string_view bytes) {
  auto tagged = sorvik_lib::types::decode_request(bytes);
  if (tagged) {
    const auto* elevated = std::get_if<sorvik_lib::types::ElevatedCleanRequest>(&*tagged);
    if (elevated == nullptr) return std::vector<std::string>{};
    return elevated->paths;
  }
  auto bare = sorvik_lib::types::decode_elevated_request(bytes);
  if (bare) return bare->paths;
  return std::nullopt;
}

std::uint64_t environment_number(const char* name, std::uint64_t fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 10) : fallback;
}

class HelperBadInput : public ::testing::Test {
 protected:
  void SetUp() override {
    if (chroot_.unavailable()) GTEST_SKIP() << *chroot_.unavailable();
    fs::create_directories(chroot_.host_path("/requests"));
    rebuild_scratch();
  }

  // Every path a request names is one the helper refuses by its text, one inside the scratch
  // folder (which holds no link out of it), or one that names nothing in the root.
  [[nodiscard]] bool only_harmless_paths(const std::vector<std::string>& paths) const {
    return std::ranges::all_of(paths, [&](const std::string& path) {
      if (!path.starts_with('/') || path.find("..") != std::string::npos) return true;
      if (std::ranges::find(kRefusedSpellings, path) != kRefusedSpellings.end()) return true;
      if (path == "/scratch" || path.starts_with("/scratch/")) return true;
      if (path.find('\0') != std::string::npos) return true;
      struct stat status {};
      return ::lstat(chroot_.host_path(path).c_str(), &status) != 0;
    });
  }

  void rebuild_scratch() {
    const fs::path scratch = chroot_.host_path("/scratch");
    fs::remove_all(scratch);
    fs::create_directories(scratch / "d1");
    fs::create_directories(scratch / "d2/sub/deep");
    write_file(scratch / "f1", "12345");
    write_file(scratch / "d1/a", std::string(100, 'a'));
    write_file(scratch / "d2/sub/deep/b", std::string(30, 'b'));
    write_file(scratch / "caf\xC3\xA9", "c");
    fs::create_directory_symlink("d1", scratch / "link-to-d1");
  }

  HelperChroot chroot_;
};

TEST_F(HelperBadInput, RandomAndMutatedRequestsAlwaysGetOneResult) {
  const std::uint64_t seed = environment_number("SORVIK_BAD_INPUT_SEED", 20'261'209);
  const std::uint64_t most_runs = environment_number("SORVIK_BAD_INPUT_RUNS", kDefaultRuns);
  const auto deadline =
      std::chrono::steady_clock::now() +
      std::chrono::seconds(environment_number("SORVIK_BAD_INPUT_SECONDS", kDefaultSeconds));
  RequestMaker maker(seed);
  const std::uint64_t baseline = chroot_.run("").peak_kib;
  std::uint64_t peak = baseline;
  std::string peak_request_size;
  int vetted_out = 0, undecodable = 0, from_file = 0, missing_file = 0;
  std::uint64_t runs = 0;
  for (; runs < most_runs && std::chrono::steady_clock::now() < deadline && !HasFailure(); ++runs) {
    const std::uint64_t run = runs;
    const std::string request = maker.next();
    const auto paths = elevated_paths(request);
    if (paths && !only_harmless_paths(*paths)) {
      ++vetted_out;
      continue;
    }
    std::vector<std::string> arguments;
    if (run % 16 == 5) {
      write_file(chroot_.host_path("/requests/request"), request);
      arguments = {"/requests/request"};
      ++from_file;
    } else if (run % 64 == 9) {
      arguments = {"/requests/none"};
      ++missing_file;
    }
    const auto ran = arguments.empty() ? chroot_.run(request) : chroot_.run({}, arguments);
    SCOPED_TRACE("run " + std::to_string(run) + " of seed " + std::to_string(seed));
    EXPECT_EQ(ran.process.error, "");
    const CleanResult result = decode_exact(ran.process.output);
    if (arguments == std::vector<std::string>{"/requests/none"}) {
      EXPECT_EQ(ran.process.status.to_string(), "exit status: 1");
      EXPECT_EQ(result, sorvik_lib::types::single_error_result(
                            "input",
                            "Failed to read request file: No such file or directory (os error 2)"));
    } else {
      EXPECT_EQ(ran.process.status.to_string(), "exit status: 0");
      EXPECT_FALSE(fs::exists(chroot_.host_path("/requests/request")));
      if (!paths && !sorvik_lib::types::decode_request(request)) {
        ++undecodable;
        EXPECT_EQ(result,
                  sorvik_lib::types::single_error_result("stdin", "Failed to parse request"));
      }
    }
    if (ran.peak_kib > peak) {
      peak = ran.peak_kib;
      peak_request_size = std::to_string(request.size());
    }
    EXPECT_LE(ran.peak_kib, baseline + kPeakAllowanceKib) << request.size() << " request bytes";
    if (paths && !paths->empty()) rebuild_scratch();
    if (run % 100 == 0) {
      EXPECT_EQ(chroot_.damaged_markers(), std::vector<std::string>{});
    }
  }
  EXPECT_EQ(chroot_.damaged_markers(), std::vector<std::string>{});
  std::printf(
      "bad input: %llu helper runs (seed %llu), %d requests vetted out, %d undecodable, %d from a "
      "request file, "
      "%d with a missing file; peak %llu KiB against %llu KiB for an empty request\n",
      static_cast<unsigned long long>(runs - vetted_out), static_cast<unsigned long long>(seed),
      vetted_out, undecodable, from_file, missing_file, static_cast<unsigned long long>(peak),
      static_cast<unsigned long long>(baseline));
}

// A request that really holds a hundred thousand paths costs memory in proportion, and no more.
TEST_F(HelperBadInput, AHundredThousandRealPathsStayBounded) {
  const std::uint64_t baseline = chroot_.run("").peak_kib;
  std::string request;
  put_u32(request, 0);
  put_u64(request, 100'000);
  for (int i = 0; i < 100'000; ++i) put_text(request, "");
  put_u64(request, 0);
  const auto ran = chroot_.run(request);
  EXPECT_EQ(ran.process.error, "");
  EXPECT_TRUE(ran.process.status.success()) << ran.process.status.to_string();
  const CleanResult result = decode_exact(ran.process.output);
  EXPECT_EQ(result.errors.size(), 100'000u);
  EXPECT_LE(ran.peak_kib, baseline + kPeakAllowanceKib);
  std::printf("100,000 paths: peak %llu KiB against %llu KiB for an empty request\n",
              static_cast<unsigned long long>(ran.peak_kib),
              static_cast<unsigned long long>(baseline));
}

}  // namespace
}  // namespace sorvik_test
