// Tree builders. Everything goes through descriptors relative to the directory being filled, so
// the deep chain can be made although its full path is far longer than PATH_MAX.
#include "tree_build.hpp"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <vector>

#include "sorvik_lib/sys/unique_fd.hpp"

namespace sorvik_bench {
namespace {

using sorvik_lib::sys::SystemError;
using sorvik_lib::sys::UniqueFd;

constexpr std::size_t kKiB = 1024;
constexpr std::size_t kMiB = 1024 * kKiB;
constexpr std::size_t kWitnessSize = 4 * kKiB;

// Bytes that file contents are cut from; their value does not matter, only their count.
const std::vector<char>& pattern() {
  static const std::vector<char> bytes = [] {
    std::vector<char> filled(256 * kKiB);
    for (std::size_t i = 0; i < filled.size(); ++i) filled[i] = static_cast<char>('a' + i % 26);
    return filled;
  }();
  return bytes;
}

// A fixed-seed generator, so every run of the harness builds the same mixed tree.
class SplitMix {
 public:
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  std::size_t below(std::size_t bound) { return static_cast<std::size_t>(next() % bound); }

 private:
  std::uint64_t state_ = 0x5EED;
};

[[nodiscard]] std::expected<UniqueFd, SystemError> make_directory_at(int parent,
                                                                     const std::string& name) {
  if (::mkdirat(parent, name.c_str(), 0755) != 0) return std::unexpected(SystemError::from_errno());
  const int fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return std::unexpected(SystemError::from_errno());
  return UniqueFd(fd);
}

[[nodiscard]] std::expected<void, SystemError> write_file_at(int parent, const std::string& name,
                                                             std::size_t size) {
  const int fd = ::openat(parent, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return std::unexpected(SystemError::from_errno());
  const UniqueFd owner(fd);
  const auto& bytes = pattern();
  while (size > 0) {
    const std::size_t chunk = std::min(size, bytes.size());
    const ssize_t put = ::write(fd, bytes.data(), chunk);
    if (put < 0) return std::unexpected(SystemError::from_errno());
    size -= static_cast<std::size_t>(put);
  }
  return {};
}

// `apparent` bytes long, but only one page in the middle is written.
[[nodiscard]] std::expected<void, SystemError> write_sparse_file_at(int parent,
                                                                    const std::string& name,
                                                                    std::size_t apparent) {
  const int fd = ::openat(parent, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return std::unexpected(SystemError::from_errno());
  const UniqueFd owner(fd);
  if (::ftruncate(fd, static_cast<off_t>(apparent)) != 0) {
    return std::unexpected(SystemError::from_errno());
  }
  if (::pwrite(fd, pattern().data(), 4 * kKiB, static_cast<off_t>(apparent / 2)) < 0) {
    return std::unexpected(SystemError::from_errno());
  }
  return {};
}

[[nodiscard]] std::expected<UniqueFd, SystemError> make_top(const std::string& path,
                                                            TreeCount& made) {
  auto top = make_directory_at(AT_FDCWD, path);
  if (top) made.directories = 1;
  return top;
}

// `directories` folders of `files_each` files of 1 KiB.
[[nodiscard]] std::expected<TreeCount, SystemError> build_flat(const std::string& path,
                                                               int directories, int files_each) {
  TreeCount made;
  auto top = make_top(path, made);
  if (!top) return std::unexpected(top.error());
  for (int d = 0; d < directories; ++d) {
    auto directory = make_directory_at(top->get(), fmt::format("d{:04}", d));
    if (!directory) return std::unexpected(directory.error());
    ++made.directories;
    for (int f = 0; f < files_each; ++f) {
      if (auto r = write_file_at(directory->get(), fmt::format("f{:03}", f), kKiB); !r) {
        return std::unexpected(r.error());
      }
      ++made.files;
      made.bytes += kKiB;
    }
  }
  return made;
}

[[nodiscard]] std::expected<TreeCount, SystemError> build_deep(const std::string& path) {
  constexpr int kDepth = 20'000;
  TreeCount made;
  auto current = make_top(path, made);
  if (!current) return std::unexpected(current.error());
  for (int level = 0; level < kDepth; ++level) {
    auto child = make_directory_at(current->get(), "d");
    if (!child) return std::unexpected(child.error());
    ++made.directories;
    *current = std::move(*child);
  }
  if (auto r = write_file_at(current->get(), "bottom", kKiB); !r) return std::unexpected(r.error());
  ++made.files;
  made.bytes += kKiB;
  return made;
}

[[nodiscard]] std::expected<TreeCount, SystemError> build_mixed(const std::string& path,
                                                                const std::string& outside) {
  constexpr int kTops = 40;
  constexpr int kSubs = 6;
  constexpr int kFilesEach = 20;
  constexpr int kHardLinks = 400;
  constexpr int kSymbolicLinks = 400;
  TreeCount made;
  SplitMix random;
  auto top = make_top(path, made);
  if (!top) return std::unexpected(top.error());
  struct Made {
    std::string relative;
    std::size_t size;
  };
  std::vector<Made> files;
  std::vector<std::string> leaves;
  for (int t = 0; t < kTops; ++t) {
    const std::string top_name = fmt::format("t{:02}", t);
    auto upper = make_directory_at(top->get(), top_name);
    if (!upper) return std::unexpected(upper.error());
    ++made.directories;
    for (int s = 0; s < kSubs; ++s) {
      const std::string sub_name = fmt::format("s{}", s);
      auto leaf = make_directory_at(upper->get(), sub_name);
      if (!leaf) return std::unexpected(leaf.error());
      ++made.directories;
      leaves.push_back(top_name + "/" + sub_name);
      for (int f = 0; f < kFilesEach; ++f) {
        // Sizes spread over every power of two up to 128 KiB, zero-length files included.
        const std::size_t size = random.below(std::size_t{1} << random.below(18));
        const std::string name = fmt::format("f{:02}", f);
        if (auto r = write_file_at(leaf->get(), name, size); !r) return std::unexpected(r.error());
        files.push_back({leaves.back() + "/" + name, size});
      }
    }
  }
  for (int b = 0; b < 4; ++b) {
    const std::string name = fmt::format("big{}", b);
    if (auto r = write_file_at(top->get(), name, 2 * kMiB); !r) return std::unexpected(r.error());
    files.push_back({name, 2 * kMiB});
  }
  for (int s = 0; s < 16; ++s) {
    const std::size_t apparent = static_cast<std::size_t>(s + 1) * 64 * kMiB;
    if (auto r = write_sparse_file_at(top->get(), fmt::format("sparse{:02}", s), apparent); !r) {
      return std::unexpected(r.error());
    }
    files.push_back({fmt::format("sparse{:02}", s), apparent});
  }
  for (int e = 0; e < 10; ++e) {
    if (::mkdirat(top->get(), fmt::format("empty{}", e).c_str(), 0755) != 0) {
      return std::unexpected(SystemError::from_errno());
    }
    ++made.directories;
  }
  const std::size_t originals = files.size();
  for (int h = 0; h < kHardLinks; ++h) {
    const Made& target = files[random.below(originals)];
    const std::string name = leaves[random.below(leaves.size())] + fmt::format("/h{:03}", h);
    if (::linkat(top->get(), target.relative.c_str(), top->get(), name.c_str(), 0) != 0) {
      return std::unexpected(SystemError::from_errno());
    }
    files.push_back({name, target.size});
  }
  const std::string witness_file = outside + "/keep/file";
  if (::linkat(AT_FDCWD, witness_file.c_str(), top->get(), "outside-hard-link", 0) != 0) {
    return std::unexpected(SystemError::from_errno());
  }
  files.push_back({"outside-hard-link", kWitnessSize});
  for (int l = 0; l < kSymbolicLinks; ++l) {
    std::string target;
    switch (l % 5) {
      case 0:
        target = "../../" + files[random.below(originals)].relative;
        break;
      case 1:
        target = "../../" + leaves[random.below(leaves.size())];
        break;
      case 2:
        target = "nowhere/at/all";
        break;
      case 3:
        target = outside + "/keep";
        break;
      default:
        target = witness_file;
        break;
    }
    const std::string name = leaves[random.below(leaves.size())] + fmt::format("/l{:03}", l);
    if (::symlinkat(target.c_str(), top->get(), name.c_str()) != 0) {
      return std::unexpected(SystemError::from_errno());
    }
    ++made.links;
  }
  made.files = files.size();
  for (const auto& file : files) made.bytes += file.size;
  return made;
}

}  // namespace

std::string_view tree_name(TreeKind kind) {
  switch (kind) {
    case TreeKind::Wide:
      return "wide";
    case TreeKind::Small:
      return "small";
    case TreeKind::Deep:
      return "deep";
    case TreeKind::Mixed:
      return "mixed";
  }
  return "?";
}

std::optional<TreeKind> parse_tree_kind(std::string_view name) {
  for (auto kind : {TreeKind::Wide, TreeKind::Small, TreeKind::Deep, TreeKind::Mixed}) {
    if (tree_name(kind) == name) return kind;
  }
  return std::nullopt;
}

std::expected<void, SystemError> make_outside_witness(const std::string& outside) {
  if (::mkdir(outside.c_str(), 0755) != 0) return std::unexpected(SystemError::from_errno());
  auto keep = make_directory_at(AT_FDCWD, outside + "/keep");
  if (!keep) return std::unexpected(keep.error());
  return write_file_at(keep->get(), "file", kWitnessSize);
}

std::string check_outside_witness(const std::string& outside) {
  struct stat status {};
  const std::string file = outside + "/keep/file";
  if (::lstat(file.c_str(), &status) != 0) {
    return fmt::format("the witness {} outside the tree is gone", file);
  }
  if (!S_ISREG(status.st_mode) || static_cast<std::size_t>(status.st_size) != kWitnessSize) {
    return fmt::format("the witness {} outside the tree was changed", file);
  }
  return {};
}

std::expected<TreeCount, SystemError> build_tree(TreeKind kind, const std::string& path,
                                                 const std::string& outside) {
  switch (kind) {
    case TreeKind::Wide:
      return build_flat(path, 1'000, 100);
    case TreeKind::Small:
      return build_flat(path, 100, 100);
    case TreeKind::Deep:
      return build_deep(path);
    case TreeKind::Mixed:
      return build_mixed(path, outside);
  }
  return std::unexpected(SystemError(EINVAL));
}

}  // namespace sorvik_bench
