// Encodes a request and decodes a result through the installed library.
#include <cstdio>
#include <sorvik_lib/types/wire.hpp>

int main() {
  using namespace sorvik_lib::types;
  const auto request =
      encode_request(SidecarRequest(ManagedCleanRequest{"docker", {"build_cache"}}));
  const auto result = decode_result(std::string(24, '\0'));
  if (!request || request->size() != 45 || !result) return 1;
  std::puts("consumer ok");
  return 0;
}
