// Request decoding and dispatch for the helper's entry.
#include "dispatch.hpp"

#include <optional>

#include "sorvik_lib/strategies/strategy.hpp"
#include "sorvik_lib/sys/memory.hpp"
#include "sorvik_lib/types/wire.hpp"
#include "sorvik_screening/handle_clean_request.hpp"

namespace sorvik_helper {

using sorvik_lib::types::CleanResult;
using sorvik_lib::types::ElevatedCleanRequest;
using sorvik_lib::types::ManagedCleanRequest;
using sorvik_lib::types::SidecarRequest;

namespace {

// The tagged form first; only input that does not decode as one is tried as a bare elevated
// request. Both decode errors are dropped: the application learns one fixed message. The buffer
// is given back while a request is built from it, so a large request is not held twice.
[[nodiscard]] std::optional<SidecarRequest> decode_with_fallback(std::string& bytes) {
  auto tagged = sorvik_lib::types::decode_request_consuming(bytes);
  if (tagged) return std::move(*tagged);
  auto bare = sorvik_lib::types::decode_elevated_request_consuming(bytes);
  if (bare) return SidecarRequest(std::in_place_index<0>, std::move(*bare));
  return std::nullopt;
}

}  // namespace

CleanResult carry_out_request(std::string request_bytes, const std::atomic<bool>* stop) {
  // A decoded path costs about twice its bytes in the request (the string and its slot).
  sorvik_lib::sys::prepare_heap_for(2 * request_bytes.size());
  auto request = decode_with_fallback(request_bytes);
  request_bytes = std::string();
  if (!request) return sorvik_lib::types::single_error_result("stdin", "Failed to parse request");
  if (auto* elevated = std::get_if<ElevatedCleanRequest>(&*request)) {
    return handle_clean_request(std::move(*elevated), stop);
  }
  return run_managed_clean(std::get<ManagedCleanRequest>(*request), stop);
}

CleanResult run_managed_clean(const ManagedCleanRequest& request, const std::atomic<bool>* stop) {
  const std::string pseudo_path = "managed://" + request.strategy;
  auto strategy = sorvik_lib::strategies::get_strategy(request.strategy);
  if (!strategy) {
    return sorvik_lib::types::single_error_result(pseudo_path,
                                                  "Unknown strategy: " + request.strategy);
  }
  auto result = strategy->execute(request.options, stop);
  if (!result) {
    return sorvik_lib::types::single_error_result(pseudo_path, result.error().display_text());
  }
  return std::move(*result);
}

}  // namespace sorvik_helper
