// The PATHs and --keep DIRs of `sorvik clean` as the screening gets them: absolute, and every DIR
// one of the PATHs.
#pragma once

#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sorvik_lib/sys/system_error.hpp"

namespace sorvik_cli {

// `path` joined to `working_directory` when it is relative, as it is otherwise. Nothing else
// changes: "." and ".." stay for the screening to judge, and an empty path stays empty, so that
// it is refused rather than taken for the working directory itself.
[[nodiscard]] std::string make_absolute(std::string_view path, std::string_view working_directory);

// The working directory of the process.
[[nodiscard]] std::expected<std::string, sorvik_lib::sys::SystemError> working_directory();

// The index of the first DIR that names none of the PATHs, component by component; none when all
// do.
[[nodiscard]] std::optional<std::size_t> keep_not_among_paths(const std::vector<std::string>& paths,
                                                              const std::vector<std::string>& keep);

}  // namespace sorvik_cli
