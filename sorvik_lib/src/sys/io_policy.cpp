// The dataless-file policy, by setiopolicy_np on Apple.
#include "sorvik_lib/sys/io_policy.hpp"

#include "sorvik_lib/platform.hpp"

#if SORVIK_HAS_DATALESS_POLICY
#include <sys/resource.h>
#endif

namespace sorvik_lib::sys {

std::expected<void, SystemError> keep_dataless_files_remote() {
#if SORVIK_HAS_DATALESS_POLICY
  if (::setiopolicy_np(IOPOL_TYPE_VFS_MATERIALIZE_DATALESS_FILES, IOPOL_SCOPE_PROCESS,
                       IOPOL_MATERIALIZE_DATALESS_FILES_OFF) != 0) {
    return std::unexpected(SystemError::from_errno());
  }
#endif
  return {};
}

}  // namespace sorvik_lib::sys
