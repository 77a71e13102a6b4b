// The closing report of `sorvik clean`.
#include "clean_report.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <vector>

#include "display_text.hpp"
#include "human_units.hpp"
#include "result_format.hpp"

namespace sorvik_cli {

std::string count_of(std::uint64_t count, std::string_view singular, std::string_view plural) {
  return fmt::format("{} {}", count, count == 1 ? singular : plural);
}

std::string summary_line(const sorvik_lib::cleaner::CleanOutcome& outcome, CleanMode mode) {
  const auto& result = outcome.result;
  const bool dry_run = mode == CleanMode::DryRun;
  std::string line =
      fmt::format("{} {} ({} on disk) from {}",
                  outcome.cancelled ? (dry_run ? "Interrupted: would free" : "Interrupted: freed")
                                    : (dry_run ? "Would free" : "Freed"),
                  format_human_size(result.bytesFreed), format_human_size(outcome.bytes_allocated),
                  count_of(result.removed.size(), "path", "paths"));
  if (!result.errors.empty()) line += ", " + count_of(result.errors.size(), "error", "errors");
  return line;
}

std::string format_clean_report(const sorvik_lib::cleaner::CleanOutcome& outcome, CleanMode mode,
                                std::span<const ListedPath> listed) {
  const auto& result = outcome.result;
  std::string out;
  if (mode == CleanMode::DryRun && !listed.empty()) {
    std::vector<std::string> sizes;
    std::size_t size_width = 0;
    for (const ListedPath& entry : listed) {
      sizes.push_back(format_human_size(entry.bytes));
      size_width = std::max(size_width, sizes.back().size());
    }
    out += "Would remove:\n";
    for (std::size_t i = 0; i < listed.size(); ++i) {
      out += fmt::format("  {:>{}}  {}\n", sizes[i], size_width, displayable(listed[i].path));
    }
  }
  out += summary_line(outcome, mode) + "\n";
  for (const auto& entry : result.errors) {
    out +=
        fmt::format("error: {}: {}\n", displayable(entry.path), displayable_message(entry.message));
  }
  if (mode == CleanMode::DryRun) out += "Dry run: nothing was deleted.\n";
  return out;
}

nlohmann::json clean_to_json(const sorvik_lib::cleaner::CleanOutcome& outcome, CleanMode mode) {
  nlohmann::json document = result_to_json(outcome.result);
  document["bytesAllocated"] = outcome.bytes_allocated;
  document["dryRun"] = mode == CleanMode::DryRun;
  document["interrupted"] = outcome.cancelled;
  return document;
}

}  // namespace sorvik_cli
