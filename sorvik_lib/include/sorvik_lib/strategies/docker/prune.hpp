// The prune commands behind the docker cleanup options, and the reading of what a prune freed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sorvik_lib::strategies::docker {

// The command line (program first) that carries out the option `option_id`; nothing for an
// identifier that is not exactly one of the five.
[[nodiscard]] std::optional<std::vector<std::string>> get_prune_command(std::string_view option_id);

// The bytes a prune reports as freed, from its standard output: the first line that begins with
// "Total reclaimed space:" decides; without one, the first line that begins with "Total:" (the
// form of docker's build plugin). 0 when no such line states a readable size.
[[nodiscard]] std::uint64_t parse_prune_output(std::string_view output);

}  // namespace sorvik_lib::strategies::docker
