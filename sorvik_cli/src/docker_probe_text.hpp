// The one line `sorvik docker probe` prints for each answer of the probe.
#pragma once

#include <string>

#include "sorvik_lib/strategies/strategy.hpp"

namespace sorvik_cli {

// The answer's name, a colon and what it means for someone about to clean.
[[nodiscard]] std::string describe_probe(sorvik_lib::strategies::ProbeResult answer);

}  // namespace sorvik_cli
