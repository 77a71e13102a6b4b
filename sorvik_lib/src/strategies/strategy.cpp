// Display texts of the strategy value types.
#include "sorvik_lib/strategies/strategy.hpp"

#include <fmt/format.h>

namespace sorvik_lib::strategies {

std::string_view to_string(ProbeResult result) {
  switch (result) {
    case ProbeResult::Available:
      return "Available";
    case ProbeResult::NeedsElevation:
      return "NeedsElevation";
    case ProbeResult::Unavailable:
      return "Unavailable";
  }
  return "Unavailable";
}

std::string StrategyError::display_text() const {
  switch (kind_) {
    case Kind::NotAvailable:
      return fmt::format("Not available: {}", message_);
    case Kind::CommandFailed:
      return fmt::format("Command failed: {}", message_);
    case Kind::ParseError:
      return fmt::format("Parse error: {}", message_);
  }
  return message_;
}

}  // namespace sorvik_lib::strategies
