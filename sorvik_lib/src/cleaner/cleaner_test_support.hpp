// Support for the cleaner's tests: fresh trees under a temporary directory, progress events as
// readable lines, and running a clean in a child process that has given up root.
#pragma once

#include <fcntl.h>
#include <fmt/format.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "sorvik_lib/cleaner/clean_progress.hpp"
#include "sorvik_lib/cleaner/tree_operations.hpp"
#include "sorvik_lib/types/records.hpp"
#include "sorvik_lib/types/wire.hpp"

namespace sorvik_lib::cleaner::testing {

// The unprivileged user a child turns into so that deletions can fail while tests run as root.
inline constexpr uid_t kNobody = 65534;

// Memory-backed scratch space where the machine has it: trees of tens of thousands of directories
// are built and removed there in a fraction of the time a disk with discard takes.
inline std::filesystem::path fast_scratch_directory() {
  std::error_code error;
  if (::access("/dev/shm", W_OK | X_OK) == 0 && std::filesystem::is_directory("/dev/shm", error)) {
    return "/dev/shm";
  }
  return std::filesystem::temp_directory_path();
}

// A fresh directory that anyone may enter, removed with all it holds at the end.
class TempDir {
 public:
  explicit TempDir(const std::filesystem::path& base = std::filesystem::temp_directory_path()) {
    std::string pattern = (base / "sorvik-cleaner-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    std::filesystem::permissions(path_, std::filesystem::perms(0755));
  }
  ~TempDir() {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
    // A tree deeper than the system's path limit defeats remove_all; it is still ours to remove.
    if (error) (void)remove_tree(path_.string());
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  [[nodiscard]] const std::filesystem::path& path() const { return path_; }
  // The text of a path inside, as the cleaner takes it.
  [[nodiscard]] std::string operator/(std::string_view name) const {
    return (path_ / name).string();
  }

 private:
  std::filesystem::path path_;
};

// A file of `size` zero bytes; `sparse` makes it a hole of that apparent length.
inline void make_file(const std::string& path, std::uint64_t size, bool sparse = false) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + path);
  bool ok = true;
  if (sparse) {
    ok = ::ftruncate(fd, static_cast<off_t>(size)) == 0;
  } else {
    const std::string bytes(size, '\0');
    ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  ::close(fd);
  if (!ok) throw std::runtime_error("cannot fill " + path);
}

inline void make_dir(const std::string& path) { std::filesystem::create_directories(path); }

inline void make_link(const std::string& target, const std::string& link) {
  std::filesystem::create_symlink(target, link);
}

inline bool exists_no_follow(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0;
}

// Hands `path` and everything below it to `owner`.
inline void chown_tree(const std::filesystem::path& path, uid_t owner) {
  if (::lchown(path.c_str(), owner, owner) != 0) throw std::runtime_error("lchown failed");
  if (!std::filesystem::is_directory(std::filesystem::symlink_status(path))) return;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(path)) {
    if (::lchown(entry.path().c_str(), owner, owner) != 0) throw std::runtime_error("lchown");
  }
}

// One line per event, for comparing whole sequences.
inline std::string describe(const CleanProgress& event) {
  struct Describe {
    std::string operator()(const progress::Started& e) const {
      return fmt::format("Started {}", e.path_count);
    }
    std::string operator()(const progress::PathStarted& e) const {
      return fmt::format("PathStarted {} {}", e.path, e.index);
    }
    std::string operator()(const progress::PathCleaned& e) const {
      return fmt::format("PathCleaned {} {}", e.path, e.bytes);
    }
    std::string operator()(const progress::PathFailed& e) const {
      return fmt::format("PathFailed {} {}", e.path, e.message);
    }
    std::string operator()(const progress::Finished& e) const {
      return fmt::format("Finished {}", e.total_bytes);
    }
  };
  return std::visit(Describe{}, event);
}

// A result and the events that led to it.
struct Recorded {
  types::CleanResult result;
  std::vector<std::string> events;
};

// Runs `work` with a callback that records every event.
inline Recorded record(const std::function<types::CleanResult(const ProgressCallback&)>& work) {
  Recorded recorded;
  const ProgressCallback on_progress = [&](CleanProgress event) {
    recorded.events.push_back(describe(event));
  };
  recorded.result = work(on_progress);
  return recorded;
}

inline bool running_as_root() { return ::geteuid() == 0; }

// Runs `work` in a forked child that has become the unprivileged user, and brings its result and
// events back through a pipe (the result in the wire encoding, then the event lines).
inline Recorded record_as_nobody(
    const std::function<types::CleanResult(const ProgressCallback&)>& work) {
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) throw std::runtime_error("pipe failed");
  const pid_t child = ::fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    ::close(pipe_fds[0]);
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
      ::_exit(3);
    }
    const Recorded recorded = record(work);
    std::string payload = types::encode_result(recorded.result).value();
    const std::uint64_t size = payload.size();
    std::string framed(reinterpret_cast<const char*>(&size), sizeof size);
    framed += payload;
    for (const auto& line : recorded.events) framed += line + '\n';
    std::size_t written = 0;
    while (written < framed.size()) {
      const ssize_t put = ::write(pipe_fds[1], framed.data() + written, framed.size() - written);
      if (put <= 0) ::_exit(4);
      written += static_cast<std::size_t>(put);
    }
    ::_exit(0);
  }
  ::close(pipe_fds[1]);
  std::string received;
  char buffer[4096];
  for (ssize_t got; (got = ::read(pipe_fds[0], buffer, sizeof buffer)) != 0;) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    received.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(pipe_fds[0]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || received.size() < 8) {
    ADD_FAILURE() << "the unprivileged child failed, wait status " << status;
    return {};
  }
  std::uint64_t size;
  std::memcpy(&size, received.data(), sizeof size);
  Recorded recorded;
  recorded.result = types::decode_result(std::string_view(received).substr(8, size)).value();
  std::string_view lines = std::string_view(received).substr(8 + size);
  while (!lines.empty()) {
    const auto end = lines.find('\n');
    recorded.events.emplace_back(lines.substr(0, end));
    lines.remove_prefix(end + 1);
  }
  return recorded;
}

}  // namespace sorvik_lib::cleaner::testing
