// Encodes a request and decodes a result through the installed library, and starts a child
// through the framework that holds it.
#include <cstdio>
#include <sorvik_lib/types/wire.hpp>

extern "C" bool consumer_framework_runs_a_child();

int main() {
  using namespace sorvik_lib::types;
  const auto request =
      encode_request(SidecarRequest(ManagedCleanRequest{"docker", {"build_cache"}}));
  const auto result = decode_result(std::string(24, '\0'));
  if (!request || request->size() != 45 || !result) return 1;
  if (!consumer_framework_runs_a_child()) return 1;
  std::puts("consumer ok");
  return 0;
}
