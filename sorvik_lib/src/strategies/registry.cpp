// The strategy registry: a fixed table from exact names to strategy factories.
#include <array>
#include <utility>

#include "sorvik_lib/strategies/strategy.hpp"

namespace sorvik_lib::strategies {
namespace {

using Factory = std::unique_ptr<ManagedCacheStrategy> (*)();

struct Registration {
  std::string_view name;
  Factory make;
};

// Strategies register here as they are built.
constexpr std::array<Registration, 0> kRegistry = {};

}  // namespace

std::unique_ptr<ManagedCacheStrategy> get_strategy(std::string_view name) {
  for (const auto& registration : kRegistry) {
    if (registration.name == name) return registration.make();
  }
  return nullptr;
}

}  // namespace sorvik_lib::strategies
