// One selectable cleanup action of a managed-cache strategy, as its option listing reports it.
#pragma once

#include <cstdint>
#include <string>

namespace sorvik_lib::types {

// How much a cleanup may destroy.
enum class RiskLevel : std::uint8_t { Low = 0, Medium = 1, High = 2 };

struct CleanupOption {
  std::string id;  // the identifier a managed request names and `execute` accepts
  std::string label;
  std::string description;
  std::uint64_t reclaimableBytes = 0;  // 0 when unknown
  RiskLevel risk = RiskLevel::Low;

  friend bool operator==(const CleanupOption&, const CleanupOption&) = default;
};

}  // namespace sorvik_lib::types
