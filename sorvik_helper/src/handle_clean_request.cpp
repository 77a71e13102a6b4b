// Elevated clean request handling.
#include "handle_clean_request.hpp"

namespace sorvik_helper {

// Nothing is deleted until the cleaner and the path screening are in place.
sorvik_lib::types::CleanResult handle_clean_request(sorvik_lib::types::ElevatedCleanRequest) {
  return {};
}

}  // namespace sorvik_helper
