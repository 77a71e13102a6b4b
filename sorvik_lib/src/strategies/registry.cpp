// The strategy registry: a fixed table from exact names to strategy factories.
#include <array>
#include <utility>

#include "sorvik_lib/strategies/docker/docker_strategy.hpp"
#include "sorvik_lib/strategies/strategy.hpp"

namespace sorvik_lib::strategies {
namespace {

using Factory = std::unique_ptr<ManagedCacheStrategy> (*)();

struct Registration {
  std::string_view name;
  Factory make;
};

template <typename Strategy>
std::unique_ptr<ManagedCacheStrategy> make() {
  return std::make_unique<Strategy>();
}

constexpr std::array<Registration, 1> kRegistry = {{
    {"docker", &make<docker::DockerStrategy>},
}};

}  // namespace

std::unique_ptr<ManagedCacheStrategy> get_strategy(std::string_view name) {
  for (const auto& registration : kRegistry) {
    if (registration.name == name) return registration.make();
  }
  return nullptr;
}

}  // namespace sorvik_lib::strategies
