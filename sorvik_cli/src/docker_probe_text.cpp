// Explanations of the probe's answers.
#include "docker_probe_text.hpp"

#include <fmt/format.h>

namespace sorvik_cli {

using sorvik_lib::strategies::ProbeResult;

std::string describe_probe(ProbeResult answer) {
  std::string_view explanation;
  switch (answer) {
    case ProbeResult::Available:
      explanation = "docker and its daemon answer with your own rights";
      break;
    case ProbeResult::NeedsElevation:
      explanation = "docker's daemon answers only through sudo -n; prune with elevated rights";
      break;
    case ProbeResult::Unavailable:
      explanation = "the docker command is missing, or no docker daemon answers it";
      break;
  }
  return fmt::format("{}: {}", sorvik_lib::strategies::to_string(answer), explanation);
}

}  // namespace sorvik_cli
