// Printed forms of a CleanResult.
#include "result_format.hpp"

#include <fmt/format.h>

#include "display_text.hpp"
#include "human_units.hpp"
#include "sorvik_lib/types/utf8.hpp"

namespace sorvik_cli {

using sorvik_lib::types::to_utf8_lossy;

nlohmann::json result_to_json(const sorvik_lib::types::CleanResult& result) {
  nlohmann::json removed = nlohmann::json::array();
  for (const auto& path : result.removed) removed.push_back(to_utf8_lossy(path));
  nlohmann::json errors = nlohmann::json::array();
  for (const auto& entry : result.errors) {
    errors.push_back(
        {{"path", to_utf8_lossy(entry.path)}, {"message", to_utf8_lossy(entry.message)}});
  }
  return {{"removed", std::move(removed)},
          {"errors", std::move(errors)},
          {"bytesFreed", result.bytesFreed}};
}

std::string format_result(const sorvik_lib::types::CleanResult& result) {
  std::string out = fmt::format("removed: {}\n", result.removed.size());
  for (const auto& path : result.removed) out += fmt::format("  {}\n", displayable(path));
  out += fmt::format("errors: {}\n", result.errors.size());
  for (const auto& entry : result.errors) {
    out += fmt::format("  {}: {}\n", displayable(entry.path), displayable_message(entry.message));
  }
  out += fmt::format("bytes freed: {} ({})\n", result.bytesFreed,
                     format_human_size(result.bytesFreed));
  return out;
}

}  // namespace sorvik_cli
