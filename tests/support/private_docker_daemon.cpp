// Starting and stopping the test's private docker daemon. Stopping is careful because the
// directory is removed afterwards: the daemon and its containerd must be gone and nothing may
// still be mounted below the directory, or the removal would reach into another filesystem.
#include "support/private_docker_daemon.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>

#include "sorvik_lib/platform.hpp"
#if SORVIK_TESTS_HAVE_LINUX
#include <sys/mount.h>
#endif
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "sorvik_lib/sys/process.hpp"
#include "sorvik_lib/sys/spawn_setup.hpp"
#include "sorvik_lib/sys/system_error.hpp"

extern char** environ;

namespace sorvik_test {
namespace {

using namespace std::chrono_literals;

constexpr auto kStartTimeout = 60s;
constexpr auto kStopTimeout = 30s;

std::string read_text(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Reaps `pid` if it has exited; true once it is gone.
bool reaped(pid_t pid) {
  int status = 0;
  const pid_t got = ::waitpid(pid, &status, WNOHANG);
  return got == pid || (got < 0 && errno == ECHILD);
}

bool wait_for_exit(pid_t pid, std::chrono::steady_clock::duration timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!reaped(pid)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

// Processes whose command line names `directory`: the daemon's containerd and shims, which live
// in sessions of their own.
std::vector<pid_t> processes_naming(const std::filesystem::path& directory) {
  std::vector<pid_t> found;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename();
    if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
    std::string command_line = read_text(entry.path() / "cmdline");
    std::replace(command_line.begin(), command_line.end(), '\0', ' ');
    if (command_line.find(directory.string() + "/") != std::string::npos) {
      found.push_back(static_cast<pid_t>(std::stoi(name)));
    }
  }
  return found;
}

// Mount points at or below `directory`, deepest first.
std::vector<std::string> mounts_below(const std::filesystem::path& directory) {
  std::vector<std::string> mounts;
  std::istringstream table(read_text("/proc/self/mountinfo"));
  const std::string prefix = directory.string() + "/";
  for (std::string line; std::getline(table, line);) {
    std::istringstream fields(line);
    std::string id, parent, device, root, mount_point;
    fields >> id >> parent >> device >> root >> mount_point;
    if (mount_point.starts_with(prefix)) mounts.push_back(mount_point);
  }
  std::sort(mounts.begin(), mounts.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  return mounts;
}

}  // namespace

PrivateDockerDaemon::PrivateDockerDaemon() {
#if !SORVIK_TESTS_HAVE_LINUX
  failure_ = "a private docker daemon is started on Linux only";
  return;
#endif
  if (::geteuid() != 0) {
    failure_ = "a private docker daemon needs root";
    return;
  }
  // Short on purpose: the socket's path must fit in a unix socket address (about 108 bytes).
  char pattern[] = "/tmp/sdk-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) {
    failure_ = "mkdtemp: " + sorvik_lib::sys::SystemError::from_errno().message();
    return;
  }
  directory_ = pattern;
  std::filesystem::create_directory(scratch());
  if (start() && wait_until_ready()) return;
  stop();
  remove_directory();
}

PrivateDockerDaemon::~PrivateDockerDaemon() {
  if (!running()) return;
  stop();
  remove_directory();
}

std::string PrivateDockerDaemon::host() const {
  return "unix://" + (directory_ / "docker.sock").string();
}

bool PrivateDockerDaemon::start() {
  const std::string d = directory_.string();
  std::vector<std::string> arguments = {"dockerd",
                                        "--iptables=false",
                                        "--ip6tables=false",
                                        "--bridge=none",
                                        "--storage-driver=vfs",
                                        "--data-root=" + d + "/root",
                                        "--exec-root=" + d + "/exec",
                                        "--pidfile=" + d + "/docker.pid",
                                        "-H",
                                        "unix://" + d + "/docker.sock"};
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  // The daemon's temporary files (containerd's stack dumps when it is stopped among them) go into
  // its own directory, which goes with it, rather than into /tmp.
  std::vector<std::string> environment = {"TMPDIR=" + d};
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (!std::string_view(*entry).starts_with("TMPDIR=")) environment.emplace_back(*entry);
  }
  std::vector<char*> envp;
  for (auto& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  sorvik_lib::sys::SpawnSetup setup;
  if (auto ready = setup.ready(); !ready) {
    failure_ = "cannot start dockerd: " + ready.error().message();
    return false;
  }
  const std::string log = d + "/dockerd.log";
  // Each call returns its error number; the first that fails is the one told.
  int spawned = ::posix_spawn_file_actions_addopen(setup.actions(), 0, "/dev/null", O_RDONLY, 0);
  if (spawned == 0) {
    spawned = ::posix_spawn_file_actions_addopen(setup.actions(), 1, log.c_str(),
                                                 O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  if (spawned == 0) spawned = ::posix_spawn_file_actions_adddup2(setup.actions(), 1, 2);
  // Its own session: no signal meant for the test's terminal or process group reaches it.
  if (spawned == 0) spawned = ::posix_spawnattr_setflags(setup.attributes(), POSIX_SPAWN_SETSID);
  if (spawned == 0) {
    spawned = ::posix_spawnp(&pid_, "dockerd", setup.actions(), setup.attributes(), argv.data(),
                             envp.data());
  }
  if (spawned != 0) {
    pid_ = -1;
    failure_ = "cannot start dockerd: " + sorvik_lib::sys::SystemError(spawned).message();
    return false;
  }
  return true;
}

bool PrivateDockerDaemon::wait_until_ready() {
  const std::vector<std::string> info = {"docker", "--host",   host(),
                                         "info",   "--format", "{{.ServerVersion}}"};
  sorvik_lib::sys::ProcessOptions options;
  const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (reaped(pid_)) {
      pid_ = -1;
      failure_ = "dockerd exited while starting: " + log_tail();
      return false;
    }
    const auto answer = sorvik_lib::sys::run_process(info, options);
    if (!answer) {
      failure_ = "cannot run the docker CLI: " + answer.error().message();
      return false;
    }
    if (answer->status.success() && answer->output.find_first_not_of(" \n") != std::string::npos) {
      return true;
    }
    std::this_thread::sleep_for(100ms);
  }
  failure_ = "dockerd did not answer within a minute: " + log_tail();
  return false;
}

void PrivateDockerDaemon::stop() {
  if (pid_ <= 0) return;
  // The daemon records itself in its pid file; that must be our child, the one process here we
  // may signal. A daemon that never got as far as writing it is stopped all the same.
  const pid_t recorded =
      static_cast<pid_t>(std::strtol(read_text(directory_ / "docker.pid").c_str(), nullptr, 10));
  ::kill(recorded == pid_ ? recorded : pid_, SIGTERM);
  if (!wait_for_exit(pid_, kStopTimeout)) {
    ::kill(-pid_, SIGKILL);  // its whole session's group
    wait_for_exit(pid_, kStopTimeout);
  }
  pid_ = -1;
  // containerd normally follows the daemon down; whatever of it is left is ended by id.
  for (int round = 0; round < 50; ++round) {
    const auto left = processes_naming(directory_);
    if (left.empty()) break;
    for (const pid_t pid : left) ::kill(pid, round < 25 ? SIGTERM : SIGKILL);
    std::this_thread::sleep_for(100ms);
  }
}

void PrivateDockerDaemon::remove_directory() {
  if (directory_.empty()) return;
#if SORVIK_TESTS_HAVE_LINUX
  for (const auto& mount_point : mounts_below(directory_)) {
    ::umount2(mount_point.c_str(), MNT_DETACH);
  }
#endif
  // Never descend into something still mounted: then leave the directory for a person to see.
  if (!mounts_below(directory_).empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(directory_, ignored);
}

std::string PrivateDockerDaemon::log_tail() const {
  const std::string log = read_text(directory_ / "dockerd.log");
  return log.size() > 2000 ? log.substr(log.size() - 2000) : log;
}

}  // namespace sorvik_test
