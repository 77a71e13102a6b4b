// The program look-up over the search path's text; no system call, so it is tested on its own.
#include "sorvik_lib/sys/search_path.hpp"

namespace sorvik_lib::sys {

std::optional<std::string_view> environment_value(char* const* environment, std::string_view name) {
  if (environment == nullptr) return std::nullopt;
  for (char* const* entry = environment; *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    if (text.size() > name.size() && text.starts_with(name) && text[name.size()] == '=') {
      return text.substr(name.size() + 1);
    }
  }
  return std::nullopt;
}

std::vector<std::string> program_candidates(std::string_view program,
                                            std::optional<std::string_view> search_path) {
  if (program.empty()) return {};
  if (program.find('/') != std::string_view::npos) return {std::string(program)};
  std::vector<std::string> candidates;
  if (!search_path) return candidates;
  std::string_view rest = *search_path;
  while (true) {
    const std::size_t separator = rest.find(':');
    std::string_view directory = rest.substr(0, separator);
    // An empty entry means the working directory to execvp, and a relative one lies under it.
    if (directory.starts_with('/')) {
      while (directory.size() > 1 && directory.ends_with('/')) directory.remove_suffix(1);
      std::string candidate(directory);
      if (!candidate.ends_with('/')) candidate += '/';
      candidate += program;
      candidates.push_back(std::move(candidate));
    }
    if (separator == std::string_view::npos) break;
    rest.remove_prefix(separator + 1);
  }
  return candidates;
}

}  // namespace sorvik_lib::sys
