// The progress line's state, wording and fitting.
#include "progress_line.hpp"

#include <fmt/format.h>

#include "display_text.hpp"
#include "human_units.hpp"
#include "sorvik_lib/types/saturating.hpp"

namespace sorvik_cli {

namespace progress = sorvik_lib::cleaner::progress;
using sorvik_lib::cleaner::TreeStage;

void ProgressState::apply(const sorvik_lib::cleaner::CleanProgress& event) {
  // Every event of these says the walk it belonged to is over, or that a new path begins.
  walk_.reset();
  if (const auto* started = std::get_if<progress::Started>(&event)) {
    total_ = started->path_count;
  } else if (const auto* path_started = std::get_if<progress::PathStarted>(&event)) {
    // Paths that do not exist send no event; the index shows that they are behind us.
    index_ = path_started->index;
    done_ = index_;
    current_ = displayable(path_started->path);
  } else if (const auto* cleaned = std::get_if<progress::PathCleaned>(&event)) {
    sorvik_lib::types::add_saturating(bytes_, cleaned->bytes);
    done_ = index_ + 1;
  } else if (std::holds_alternative<progress::PathFailed>(event)) {
    ++failures_;
    done_ = index_ + 1;
  } else if (std::holds_alternative<progress::Finished>(event)) {
    done_ = total_;
    finished_ = true;
  }
}

void ProgressState::apply(const sorvik_lib::cleaner::TreeProgress& event, Clock::time_point now) {
  current_ = displayable(event.path);
  if (!walk_ || walk_->stage != event.stage || event.entries < walk_first_entries_) {
    walk_ = TreeWalk{.stage = event.stage};
    walk_started_ = now;
    walk_first_entries_ = event.entries;
  }
  walk_->entries = event.entries;
  walk_->entries_total = event.entries_total;
  walk_->bytes = event.bytes;
  const auto elapsed = std::chrono::duration<double>(now - walk_started_).count();
  if (elapsed > 0) {
    walk_->entries_per_second = static_cast<std::uint64_t>(
        static_cast<double>(event.entries - walk_first_entries_) / elapsed);
  }
}

namespace {

std::string describe_walk(const TreeWalk& walk) {
  std::string text = walk.stage == TreeStage::Measuring
                         ? fmt::format("measuring {} entries, {}", format_count(walk.entries),
                                       format_human_size(walk.bytes))
                         : fmt::format("removing {}/{} entries", format_count(walk.entries),
                                       format_count(walk.entries_total));
  if (walk.entries_per_second != 0) {
    text += fmt::format(", {} entries/s", format_count(walk.entries_per_second));
  }
  return text;
}

}  // namespace

std::string render_progress_line(const ProgressState& state, CleanMode mode, std::size_t columns) {
  std::string line =
      fmt::format("{}/{} paths, {} {}", state.done(), state.total(),
                  format_human_size(state.bytes()), mode == CleanMode::DryRun ? "found" : "freed");
  if (state.failures() != 0) line += ", " + count_of(state.failures(), "error", "errors");
  if (state.walk()) line += "; " + describe_walk(*state.walk());
  if (!state.current().empty()) {
    line += ": ";
    const std::size_t used = display_width(line);
    // A path squeezed to a few columns says nothing; the counts alone are then better.
    constexpr std::size_t kShortestPath = 8;
    if (used + kShortestPath <= columns) {
      line += shorten_middle(state.current(), columns - used);
    } else {
      line.resize(line.size() - 2);
    }
  }
  return truncate_to_width(line, columns);
}

bool RedrawThrottle::admit(Clock::time_point now) {
  if (drawn_ && now - last_ < interval_) return false;
  drawn_ = true;
  last_ = now;
  return true;
}

}  // namespace sorvik_cli
