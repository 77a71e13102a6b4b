// Throughput of the wire codec on the helper's side: decoding large elevated requests and
// encoding large results, in bytes of wire format per second.
#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include <optional>

#include "sorvik_lib/sys/memory.hpp"
#include "sorvik_lib/types/wire.hpp"

namespace {

using sorvik_lib::types::CleanResult;
using sorvik_lib::types::ElevatedCleanRequest;
using sorvik_lib::types::SidecarRequest;

// A cache path of the usual shape, about 52 bytes; `wide` names carry multi-byte characters, so
// the UTF-8 check cannot take its all-ASCII fast path.
std::string sample_path(std::size_t index, bool wide) {
  if (wide) {
    return fmt::format("/Users/zoë/Library/Caches/Ünïcödé-Äpp/{:04}/データ-{:07}.cache",
                       index / 1000, index);
  }
  return fmt::format("/Users/sam/Library/Caches/app/{:04}/{:07}.cache", index / 1000, index);
}

std::string encoded_request(std::size_t paths, bool wide) {
  ElevatedCleanRequest request;
  request.paths.reserve(paths);
  for (std::size_t i = 0; i < paths; ++i) request.paths.push_back(sample_path(i, wide));
  request.preserveRootPaths.push_back("/Users/sam/Library/Caches/app");
  return *sorvik_lib::types::encode_request(SidecarRequest(std::move(request)));
}

void decode(benchmark::State& state, bool wide) {
  const std::string input = encoded_request(static_cast<std::size_t>(state.range(0)), wide);
  // As the helper readies its heap before it decodes a large request.
  sorvik_lib::sys::prepare_heap_for(2 * input.size());
  for (auto _ : state) {
    std::optional decoded = sorvik_lib::types::decode_request(input);
    benchmark::DoNotOptimize(decoded);
    if (!decoded->has_value()) state.SkipWithError("the request did not decode");
    // Freeing the paths is the caller's business later on; keep it out of the decode's time.
    state.PauseTiming();
    decoded.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(input.size()));
  state.counters["request_MB"] = static_cast<double>(input.size()) / 1e6;
}

void BM_DecodeRequest(benchmark::State& state) { decode(state, false); }
void BM_DecodeRequestNonAscii(benchmark::State& state) { decode(state, true); }

CleanResult sample_result(std::size_t removed, std::size_t errors) {
  CleanResult result;
  result.removed.reserve(removed);
  for (std::size_t i = 0; i < removed; ++i) result.removed.push_back(sample_path(i, false));
  for (std::size_t i = 0; i < errors; ++i) {
    result.errors.push_back({sample_path(i, false), "Permission denied (os error 13)"});
  }
  result.bytesFreed = 123'456'789;
  return result;
}

void encode(benchmark::State& state, std::size_t removed, std::size_t errors) {
  const CleanResult result = sample_result(removed, errors);
  std::size_t size = 0;
  for (auto _ : state) {
    auto encoded = sorvik_lib::types::encode_result(result);
    benchmark::DoNotOptimize(encoded);
    size = encoded->size();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(size));
  state.counters["result_MB"] = static_cast<double>(size) / 1e6;
}

void BM_EncodeResult(benchmark::State& state) {
  encode(state, static_cast<std::size_t>(state.range(0)), 0);
}
void BM_EncodeResultErrors(benchmark::State& state) {
  encode(state, 0, static_cast<std::size_t>(state.range(0)));
}

BENCHMARK(BM_DecodeRequest)
    ->Arg(1'000)
    ->Arg(100'000)
    ->Arg(1'000'000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeRequestNonAscii)->Arg(100'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeResult)->Arg(1'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeResultErrors)->Arg(100'000)->Unit(benchmark::kMillisecond);

}  // namespace
