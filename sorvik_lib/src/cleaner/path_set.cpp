// Component-wise comparison and hashing of paths for the kept-root set.
#include "sorvik_lib/cleaner/path_set.hpp"

#include <functional>
#include <optional>

namespace sorvik_lib::cleaner {
namespace {

// Yields a path's components: "/" for a leading root, then each name between separators, skipping
// empty names and "." (kept only as the very first component of a relative path).
class ComponentCursor {
 public:
  explicit ComponentCursor(std::string_view path) : rest_(path) {}

  [[nodiscard]] std::optional<std::string_view> next() {
    if (at_start_) {
      at_start_ = false;
      if (rest_.starts_with('/')) {
        rest_.remove_prefix(1);
        return "/";
      }
      if (rest_ == "." || rest_.starts_with("./")) {
        rest_.remove_prefix(1);
        return ".";
      }
    }
    for (;;) {
      while (rest_.starts_with('/')) rest_.remove_prefix(1);
      if (rest_.empty()) return std::nullopt;
      const std::string_view component = rest_.substr(0, rest_.find('/'));
      rest_.remove_prefix(component.size());
      if (component != ".") return component;
    }
  }

 private:
  std::string_view rest_;
  bool at_start_ = true;
};

}  // namespace

bool same_components(std::string_view left, std::string_view right) {
  ComponentCursor left_cursor(left);
  ComponentCursor right_cursor(right);
  for (;;) {
    const auto left_component = left_cursor.next();
    const auto right_component = right_cursor.next();
    if (left_component != right_component) return false;
    if (!left_component) return true;
  }
}

std::size_t hash_components(std::string_view path) {
  ComponentCursor cursor(path);
  std::size_t hash = 0;
  while (const auto component = cursor.next()) {
    hash ^= std::hash<std::string_view>{}(*component) + 0x9e3779b97f4a7c15ULL + (hash << 6) +
            (hash >> 2);
  }
  return hash;
}

}  // namespace sorvik_lib::cleaner
