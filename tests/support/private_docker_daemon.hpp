// A docker daemon of the test's own: dockerd started as root in its own session on a socket in a
// fresh temporary directory, with its data, state and pid file there too, and stopped (through
// its pid file) when the object goes, whatever the test did.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace sorvik_test {

class PrivateDockerDaemon {
 public:
  // Starts the daemon and waits until `docker info` answers from it. On failure the daemon is
  // not running and `failure()` says why.
  PrivateDockerDaemon();
  ~PrivateDockerDaemon();
  PrivateDockerDaemon(const PrivateDockerDaemon&) = delete;
  PrivateDockerDaemon& operator=(const PrivateDockerDaemon&) = delete;

  [[nodiscard]] bool running() const { return failure_.empty(); }
  [[nodiscard]] const std::string& failure() const { return failure_; }

  // The value for DOCKER_HOST, e.g. "unix:///tmp/sdk-ab12cd/docker.sock".
  [[nodiscard]] std::string host() const;
  // A scratch directory under the daemon's own, for fixtures; removed with it.
  [[nodiscard]] std::filesystem::path scratch() const { return directory_ / "scratch"; }

 private:
  bool start();
  bool wait_until_ready();
  void stop();
  void remove_directory();
  [[nodiscard]] std::string log_tail() const;

  std::filesystem::path directory_;
  pid_t pid_ = -1;
  std::string failure_;
};

}  // namespace sorvik_test
